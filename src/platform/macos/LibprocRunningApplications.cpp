#include "platform/macos/LibprocRunningApplications.h"

#include "platform/macos/BundleInfo.h"

#include <libproc.h>

#include <QFileInfo>

#include <unistd.h>

LibprocRunningApplications::LibprocRunningApplications(std::uint32_t uid, std::int64_t selfPid)
    : uid_(uid)
    , selfPid_(selfPid)
{
}

LibprocRunningApplications::LibprocRunningApplications()
    : LibprocRunningApplications(getuid(), getpid())
{
}

std::vector<RunningApplication> LibprocRunningApplications::runningApplications()
{
    std::vector<RunningApplication> applications;
    const int needed = proc_listpids(PROC_RUID_ONLY, uid_, nullptr, 0);
    if (needed <= 0)
        return applications;
    // Room for processes started between the two calls.
    std::vector<int> pids(static_cast<std::size_t>(needed) / sizeof(int) + 32);
    const int filled = proc_listpids(PROC_RUID_ONLY, uid_, pids.data(), static_cast<int>(pids.size() * sizeof(int)));
    if (filled <= 0)
        return applications;
    pids.resize(std::min(pids.size(), static_cast<std::size_t>(filled) / sizeof(int)));

    for (const int pid : pids) {
        if (pid <= 0 || pid == selfPid_)
            continue;
        char path[PROC_PIDPATHINFO_MAXSIZE];
        const int length = proc_pidpath(pid, path, sizeof path);
        if (length <= 0)
            continue;  // gone, or not ours to inspect
        const QString executable = QString::fromUtf8(path, length);
        RunningApplication application;
        if (const std::optional<QString> bundle = enclosingBundle(executable)) {
            application.localizedName = QFileInfo(*bundle).completeBaseName();
            application.bundleIdentifier = bundleIdentifier(*bundle);
        } else {
            application.localizedName = QFileInfo(executable).fileName();
        }
        applications.push_back(std::move(application));
    }
    return applications;
}

std::optional<QString> LibprocRunningApplications::enclosingBundle(const QString& executablePath)
{
    // The last ".app" folder directly followed by Contents/MacOS/: a helper application
    // inside another bundle is its own application.
    static const QString marker = QStringLiteral(".app/Contents/MacOS/");
    const qsizetype at = executablePath.lastIndexOf(marker);
    if (at <= 0 || executablePath.at(at - 1) == QLatin1Char('/'))
        return std::nullopt;
    return executablePath.left(at + 4);
}

std::optional<QString> LibprocRunningApplications::bundleIdentifier(const QString& bundlePath)
{
    return BundleInfo::identifier(bundlePath);
}
