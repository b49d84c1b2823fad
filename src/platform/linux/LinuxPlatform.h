#pragma once
// The Linux platform: one set of services, whichever display backend the session allows.
// Display backends are tried in order (X11 RandR on a real X server, then wlroots' gamma
// control); when none takes the displays the program still runs, and says why.

#include "platform/Platform.h"

class LinuxPlatform : public Platform {
public:
    ~LinuxPlatform() override;

    DisplayServices& displays() override;
    std::string displayBackend() const override;
    HotKeyService& hotKeys() override;
    SleepWatcher& sleepWatcher() override;
    RunningApplications& runningApplications() override;
    const Backlight& backlight() override;
    DDCTransport& ddcTransport() override;
    ArchiveExtractor& archiveExtractor() override;
    ProcessLauncher& processLauncher() override;
    Installer& installer() override;
    void onTerminationRequest(std::function<void()> handler) override;

    struct Parts;

private:
    friend class Platform;
    explicit LinuxPlatform(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};
