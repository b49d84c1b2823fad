#pragma once
// The current user's processes through libproc. A process inside an application bundle
// (".../Name.app/Contents/MacOS/...") is named after the bundle and carries the bundle's
// identifier from its Info.plist; any other is named after its executable.

#include "platform/RunningApplications.h"

#include <cstdint>

class LibprocRunningApplications : public RunningApplications {
public:
    LibprocRunningApplications(std::uint32_t uid, std::int64_t selfPid);
    // This user's processes, without this one.
    LibprocRunningApplications();

    std::vector<RunningApplication> runningApplications() override;

    // The innermost bundle an executable runs from, absent outside one.
    static std::optional<QString> enclosingBundle(const QString& executablePath);

private:
    static std::optional<QString> bundleIdentifier(const QString& bundlePath);

    std::uint32_t uid_;
    std::int64_t selfPid_;
};
