#pragma once
// The applications the current user runs now, as the system lists them.

#include <QString>

#include <optional>
#include <vector>

struct RunningApplication {
    // The name the system shows for it (on Linux the process name).
    std::optional<QString> localizedName;
    // Its application identifier, when it has one (on Linux a sandboxed app's id).
    std::optional<QString> bundleIdentifier;
};

class RunningApplications {
public:
    virtual ~RunningApplications() = default;

    // In the system's order. This program's own process is not among them.
    virtual std::vector<RunningApplication> runningApplications() = 0;
};
