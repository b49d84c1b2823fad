#include "platform/linux/BundleSwapInstaller.h"

#include "platform/ProcessLauncher.h"
#include "platform/UpdateUnpacking.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// $1 the running process, $2 the new bundle, $3 the installed one. Every step is a rename, so
// an interruption never leaves the user without a program: the old bundle is set aside, the
// new one put in its place, and only then is the old one deleted. On any failure the old one
// goes back and is started again.
const QString kSwapScript = QStringLiteral(
    "#!/bin/bash\n"
    "while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done\n"
    "rm -rf \"$3.new\" \"$3.old\"\n"
    "if [ -x \"$2/bin/ambrano\" ] && cp -a \"$2\" \"$3.new\" && mv -T \"$3\" \"$3.old\"; then\n"
    "    mv -T \"$3.new\" \"$3\" || mv -T \"$3.old\" \"$3\"\n"
    "fi\n"
    "rm -rf \"$3.new\" \"$3.old\"\n"
    "setsid -f \"$3/bin/ambrano\" </dev/null >/dev/null 2>&1\n");

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    if (QFileInfo(path).isSymLink() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.read(256);
}

}  // namespace

BundleSwapInstaller::BundleSwapInstaller(ArchiveExtractor& extractor, ProcessLauncher& launcher)
    : extractor_(extractor)
    , launcher_(launcher)
    , temporaryFolder_(QDir::tempPath())
{
    if (QCoreApplication::instance()) {
        runningExecutable_ = QCoreApplication::applicationFilePath();
        runningPid_ = QCoreApplication::applicationPid();
    }
}

std::optional<QString> BundleSwapInstaller::bundleForExecutable(const QString& executablePath)
{
    if (executablePath.isEmpty())
        return std::nullopt;
    const QString exe = QDir::cleanPath(QFileInfo(executablePath).absoluteFilePath());
    const QFileInfo binFolder(QFileInfo(exe).absolutePath());
    if (binFolder.fileName() != QLatin1String("bin"))
        return std::nullopt;
    const QString bundle = binFolder.absolutePath();
    if (!bundle.endsWith(QLatin1String(".app")) || bundle == QLatin1String("/.app"))
        return std::nullopt;
    return bundle;
}

QString BundleSwapInstaller::swapScript()
{
    return kSwapScript;
}

QString BundleSwapInstaller::versionFile(const QString& bundle)
{
    return bundle + QStringLiteral("/share/ambrano/version");
}

bool BundleSwapInstaller::install(const QByteArray& archive, const QString& version)
{
    // Installed by a package manager (not from a ".app" folder): updates are its business.
    const std::optional<QString> bundle = bundleForExecutable(runningExecutable_);
    if (!bundle)
        return false;
    const std::optional<QString> newBundle = UpdateUnpacking::unpack(extractor_, temporaryFolder_, version, archive);
    // A bundle that could not start would replace a working one; an older signed archive
    // served under a newer version would be a downgrade the user never sees.
    if (!newBundle || !UpdateUnpacking::isPlainExecutable(*newBundle + QStringLiteral("/bin/ambrano"))
        || readSmallFile(versionFile(*newBundle)).trimmed() != version.toUtf8())
        return false;
    // The script takes its paths as arguments, so no path can change what it does.
    const std::optional<QString> script = UpdateUnpacking::writeScript(*newBundle, kSwapScript);
    if (!script)
        return false;

    // Without the script nobody would start the app again after it quits: then it stays.
    return launcher_.startDetached(QStringLiteral("/bin/bash"), {*script, QString::number(runningPid_), *newBundle, *bundle});
}
