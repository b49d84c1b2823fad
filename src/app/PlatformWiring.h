#pragma once
// Hands the platform's services to the shared services for as long as it lives, and takes
// them back in reverse order (the services outlive main; the backends do not).

class Platform;
class QString;

class PlatformWiring {
public:
    explicit PlatformWiring(Platform& platform);
    ~PlatformWiring();
    PlatformWiring(const PlatformWiring&) = delete;
    PlatformWiring& operator=(const PlatformWiring&) = delete;

    // "display: x11 randr (2 outputs)", "display: none (Xwayland: …)": for the log.
    static QString displayLine(Platform& platform);
};
