#include "platform/linux/BundleSwapInstaller.h"

#include "platform/ArchiveExtractor.h"
#include "platform/ProcessLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

// The version names a folder in the temporary folder: it must stay one plain name.
bool usableInFolderName(const QString& version)
{
    return !version.isEmpty() && !version.contains(QLatin1Char('/')) && !version.contains(QChar(0))
        && version != QLatin1String(".") && version != QLatin1String("..") && version.toUtf8().size() <= 200;
}

bool isPlainFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

bool isPlainExecutable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() && info.isExecutable();
}

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
    if (!bundle || !usableInFolderName(version))
        return false;

    // A fresh work folder that only we can write to. A link in its place is removed, never
    // followed, and an old folder we cannot remove stops the installation.
    const QString work = QDir(temporaryFolder_).filePath(QStringLiteral("veskupdate-") + version);
    const QFileInfo existing(work);
    if (existing.isSymLink() || (existing.exists() && !existing.isDir()))
        QFile::remove(work);
    else if (existing.exists())
        QDir(work).removeRecursively();
    if (!QDir().mkpath(temporaryFolder_)
        || !QDir().mkdir(work, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return false;

    const QString zip = QDir(work).filePath(QStringLiteral("u.zip"));
    {
        QFile file(zip);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(archive) != archive.size())
            return false;
    }
    if (!extractor_.extract(zip, work))
        return false;

    // The first ".app" name in the order the file system lists them.
    const QStringList names = QDir(work).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Unsorted);
    QString newBundle;
    for (const QString& name : names) {
        if (name.endsWith(QLatin1String(".app"))) {
            newBundle = QDir(work).filePath(name);
            break;
        }
    }
    // A bundle that could not start would replace a working one; an older signed archive
    // served under a newer version would be a downgrade the user never sees.
    if (newBundle.isEmpty() || !isPlainFolder(newBundle)
        || !isPlainExecutable(newBundle + QStringLiteral("/bin/ambrano"))
        || readSmallFile(versionFile(newBundle)).trimmed() != version.toUtf8())
        return false;

    // The script takes its paths as arguments, so no path can change what it does.
    const QString script = QDir(work).filePath(QStringLiteral("swap.sh"));
    {
        QSaveFile file(script);
        const QByteArray text = kSwapScript.toUtf8();
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            return false;
    }
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner | QFileDevice::ExeUser);

    // Without the script nobody would start the app again after it quits: then it stays.
    return launcher_.startDetached(QStringLiteral("/bin/bash"), {script, QString::number(runningPid_), newBundle, *bundle});
}
