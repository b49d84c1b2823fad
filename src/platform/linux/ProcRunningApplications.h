#pragma once
// The current user's processes, read from /proc. The name is the process name (the full
// executable name when the kernel's 15-character copy is cut short); the identifier is the
// Flatpak application id of a sandboxed process.

#include "platform/RunningApplications.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

class ProcRunningApplications : public RunningApplications {
public:
    // Lists processes of the real user `uid` under `procRoot`, leaving out `selfPid`.
    ProcRunningApplications(QString procRoot, std::uint32_t uid, std::int64_t selfPid);
    // This user's processes in /proc, without this one.
    ProcRunningApplications();

    std::vector<RunningApplication> runningApplications() override;

    // The application id in a sandbox's .flatpak-info (its [Application] name).
    static std::optional<QString> flatpakIdFromInfo(const QByteArray& info);
    // FLATPAK_ID in a NUL-separated environment block.
    static std::optional<QString> flatpakIdFromEnviron(const QByteArray& environ);

private:
    std::optional<RunningApplication> read(const QString& pidDir) const;

    QString procRoot_;
    std::uint32_t uid_;
    std::int64_t selfPid_;
};
