#include "platform/linux/ProcRunningApplications.h"

#include <QFile>

#include <algorithm>
#include <utility>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// The kernel keeps at most 15 bytes of a process name.
constexpr int commLength = 15;
// Plain system calls: this runs on every refresh of the panel, over every process, and
// QFile/QDir add several stat calls per file.
std::optional<QByteArray> readSmallFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // The kernel reports a size of 0 for these files: read to the end.
    QByteArray data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.append(buffer, n);
    }
    ::close(fd);
    return data;
}

QString linkTarget(const QString& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buffer))
        return {};
    return QFile::decodeName(QByteArray(buffer, n));
}

std::vector<std::int64_t> numericEntries(const QString& folder)
{
    std::vector<std::int64_t> pids;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return pids;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        std::int64_t pid = 0;
        bool digits = *name != '\0' && std::strlen(name) <= 18;  // no overflow
        for (const char* c = name; *c && digits; ++c) {
            digits = *c >= '0' && *c <= '9';
            pid = pid * 10 + (*c - '0');
        }
        if (digits && pid > 0)
            pids.push_back(pid);
    }
    ::closedir(dir);
    return pids;
}

QString baseName(QString path)
{
    static const QString deleted = QStringLiteral(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash >= 0 ? path.mid(slash + 1) : path;
}

}  // namespace

ProcRunningApplications::ProcRunningApplications(QString procRoot, std::uint32_t uid, std::int64_t selfPid)
    : procRoot_(std::move(procRoot))
    , uid_(uid)
    , selfPid_(selfPid)
{
}

ProcRunningApplications::ProcRunningApplications()
    : ProcRunningApplications(QStringLiteral("/proc"), static_cast<std::uint32_t>(getuid()), static_cast<std::int64_t>(getpid()))
{
}

std::vector<RunningApplication> ProcRunningApplications::runningApplications()
{
    std::vector<std::int64_t> pids = numericEntries(procRoot_);
    std::erase(pids, selfPid_);
    // Oldest first, as process ids are handed out.
    std::sort(pids.begin(), pids.end());

    std::vector<RunningApplication> applications;
    for (std::int64_t pid : pids) {
        if (auto app = read(procRoot_ + u'/' + QString::number(pid)))
            applications.push_back(std::move(*app));
    }
    return applications;
}

std::optional<RunningApplication> ProcRunningApplications::read(const QString& pidDir) const
{
    // The process may end while we look: any missing file drops it.
    const auto status = readSmallFile(pidDir + QStringLiteral("/status"));
    if (!status)
        return std::nullopt;
    std::optional<std::uint32_t> realUid;
    char state = '?';
    for (const QByteArray& line : status->split('\n')) {
        if (line.startsWith("Uid:")) {
            const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
            bool ok = false;
            const auto uid = fields.value(0).toUInt(&ok);
            if (ok)
                realUid = uid;
        } else if (line.startsWith("State:")) {
            const QByteArray value = line.mid(6).trimmed();
            if (!value.isEmpty())
                state = value[0];
        }
    }
    if (!realUid || *realUid != uid_)
        return std::nullopt;
    // Zombies and dead processes run nothing.
    if (state == 'Z' || state == 'X')
        return std::nullopt;
    // Kernel threads have no command line.
    const auto cmdline = readSmallFile(pidDir + QStringLiteral("/cmdline"));
    if (!cmdline || cmdline->isEmpty())
        return std::nullopt;

    RunningApplication app;
    QString name;
    if (const auto comm = readSmallFile(pidDir + QStringLiteral("/comm")))
        name = QString::fromUtf8(comm->endsWith('\n') ? comm->chopped(1) : *comm);
    if (name.isEmpty() || name.toUtf8().size() >= commLength) {
        // Possibly cut short: the executable's own name, or the first argument's, if it
        // continues the kernel's copy.
        const QStringList candidates = {
            baseName(linkTarget(pidDir + QStringLiteral("/exe"))),
            baseName(QString::fromUtf8(cmdline->left(cmdline->indexOf('\0')))),
        };
        for (const QString& candidate : candidates) {
            if (!candidate.isEmpty() && candidate.startsWith(name)) {
                name = candidate;
                break;
            }
        }
    }
    if (!name.isEmpty())
        app.localizedName = name;

    if (const auto info = readSmallFile(pidDir + QStringLiteral("/root/.flatpak-info")))
        app.bundleIdentifier = flatpakIdFromInfo(*info);
    if (!app.bundleIdentifier) {
        if (const auto environ = readSmallFile(pidDir + QStringLiteral("/environ")))
            app.bundleIdentifier = flatpakIdFromEnviron(*environ);
    }
    return app;
}

std::optional<QString> ProcRunningApplications::flatpakIdFromInfo(const QByteArray& info)
{
    bool inApplication = false;
    for (const QByteArray& raw : info.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inApplication = line == "[Application]";
            continue;
        }
        if (!inApplication)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && line.left(eq).trimmed() == "name") {
            const QString id = QString::fromUtf8(line.mid(eq + 1).trimmed());
            if (!id.isEmpty())
                return id;
        }
    }
    return std::nullopt;
}

std::optional<QString> ProcRunningApplications::flatpakIdFromEnviron(const QByteArray& environ)
{
    static const QByteArray key = "FLATPAK_ID=";
    for (const QByteArray& entry : environ.split('\0')) {
        if (entry.startsWith(key) && entry.size() > key.size())
            return QString::fromUtf8(entry.mid(key.size()));
    }
    return std::nullopt;
}
