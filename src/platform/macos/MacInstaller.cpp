#include "platform/macos/MacInstaller.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

namespace {

// Line 3 copies the new bundle beside the installed one, then swaps the two by renames and
// puts the old one back if the second rename fails; leftovers go either way.
const QString kSwapScript = QStringLiteral(
    "#!/bin/bash\n"
    "while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done\n"
    "rm -rf \"$3.new\" \"$3.old\" && /usr/bin/ditto \"$2\" \"$3.new\" && mv \"$3\" \"$3.old\" && { mv \"$3.new\" \"$3\" || mv \"$3.old\" \"$3\"; }; rm -rf \"$3.new\" \"$3.old\"\n"
    "/usr/bin/xattr -dr com.apple.quarantine \"$3\" 2>/dev/null\n"
    "/usr/bin/open \"$3\"");

bool isPlainFolder(const QFileInfo& info)
{
    return info.isDir() && !info.isSymLink();
}

// An absolute "….app" path: no program on the script's lines can take it for an option.
bool isBundlePath(const QString& path)
{
    return QDir::isAbsolutePath(path) && path.endsWith(QLatin1String(".app"))
        && QFileInfo(path).fileName() != QLatin1String(".app") && QDir::cleanPath(path) == path;
}

// A folder with the parts every application bundle has.
bool isBundle(const QString& path)
{
    const QDir contents(QDir(path).filePath(QStringLiteral("Contents")));
    const QFileInfo plist(contents.filePath(QStringLiteral("Info.plist")));
    return isPlainFolder(QFileInfo(path)) && isPlainFolder(QFileInfo(contents.path()))
        && isPlainFolder(QFileInfo(contents.filePath(QStringLiteral("MacOS")))) && plist.isFile() && !plist.isSymLink();
}

}  // namespace

MacInstaller::MacInstaller(Run run, Start start)
    : run_(std::move(run))
    , start_(std::move(start))
{
}

QString MacInstaller::swapScript()
{
    return kSwapScript;
}

std::optional<QString> MacInstaller::bundleForExecutable(const QString& executablePath)
{
    if (executablePath.isEmpty())
        return std::nullopt;
    const QString executable = QDir::cleanPath(QFileInfo(executablePath).absoluteFilePath());
    const QString macOS = QFileInfo(executable).absolutePath();
    const QString contents = QFileInfo(macOS).absolutePath();
    const QString bundle = QFileInfo(contents).absolutePath();
    if (QFileInfo(macOS).fileName() != QLatin1String("MacOS") || QFileInfo(contents).fileName() != QLatin1String("Contents")
        || !isBundlePath(bundle))
        return std::nullopt;
    return bundle;
}

bool MacInstaller::install(const QString& newBundle, const QString& currentBundle, qint64 pid) const
{
    if (!isBundlePath(newBundle) || !isBundlePath(currentBundle) || !isBundle(newBundle) || pid <= 0)
        return false;

    // Copies made from it keep the attribute; the script clears it once more after the swap.
    run_(QStringLiteral("/usr/bin/xattr"), {QStringLiteral("-dr"), QStringLiteral("com.apple.quarantine"), newBundle});

    const QString script = QFileInfo(newBundle).dir().filePath(QStringLiteral("swap.sh"));
    {
        QSaveFile file(script);
        const QByteArray text = kSwapScript.toUtf8();
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            return false;
    }
    run_(QStringLiteral("/bin/chmod"), {QStringLiteral("+x"), script});

    // A failure to start leaves the old version installed; quitting follows all the same.
    start_(QStringLiteral("/bin/bash"), {script, QString::number(pid), newBundle, currentBundle});
    return true;
}

void MacInstaller::waitFor(const QString& program, const QStringList& arguments)
{
    QProcess::execute(program, arguments);
}

bool MacInstaller::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}
