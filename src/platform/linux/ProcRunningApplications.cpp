#include "platform/linux/ProcRunningApplications.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

#include <sys/types.h>
#include <unistd.h>

namespace {

// The kernel keeps at most 15 bytes of a process name.
constexpr int commLength = 15;
// Status, comm and .flatpak-info are small; an environment block rarely passes this.
constexpr qint64 readLimit = 256 * 1024;

std::optional<QByteArray> readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(readLimit);
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
    std::vector<std::int64_t> pids;
    const QStringList entries = QDir(procRoot_).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool ok = false;
        const std::int64_t pid = entry.toLongLong(&ok);
        if (ok && pid > 0 && pid != selfPid_)
            pids.push_back(pid);
    }
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
            baseName(QFileInfo(pidDir + QStringLiteral("/exe")).symLinkTarget()),
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
