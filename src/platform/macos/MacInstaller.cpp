#include "platform/macos/MacInstaller.h"

#include "platform/ArchiveExtractor.h"
#include "platform/ProcessLauncher.h"
#include "platform/UpdateUnpacking.h"
#include "platform/macos/BundleInfo.h"


#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

// Line 3 copies the new bundle beside the installed one, then swaps the two by renames, putting
// the old one back if the second rename fails; what is left over goes either way. Lines 4 and 5
// run whatever happened, so the user always gets a program back.
const QString kSwapScript = QStringLiteral(
    "#!/bin/bash\n"
    "while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done\n"
    "rm -rf \"$3.new\" \"$3.old\" && /usr/bin/ditto \"$2\" \"$3.new\" && mv \"$3\" \"$3.old\" && { mv \"$3.new\" \"$3\" || mv \"$3.old\" \"$3\"; }; rm -rf \"$3.new\" \"$3.old\"\n"
    "/usr/bin/xattr -dr com.apple.quarantine \"$3\" 2>/dev/null\n"
    "/usr/bin/open \"$3\"");

}  // namespace

MacInstaller::MacInstaller(ArchiveExtractor& extractor, ProcessLauncher& launcher, Run run)
    : extractor_(extractor)
    , launcher_(launcher)
    , run_(std::move(run))
    , temporaryFolder_(QDir::tempPath())
{
    if (QCoreApplication::instance()) {
        runningExecutable_ = QCoreApplication::applicationFilePath();
        runningPid_ = QCoreApplication::applicationPid();
    }
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
        || !bundle.endsWith(QLatin1String(".app")) || QFileInfo(bundle).fileName() == QLatin1String(".app"))
        return std::nullopt;
    return bundle;
}

std::optional<QString> MacInstaller::bundleVersion(const QString& bundle)
{
    return BundleInfo::shortVersion(bundle);
}

bool MacInstaller::install(const QByteArray& archive, const QString& version)
{
    // Not running from a bundle (a build folder): nothing to replace.
    const std::optional<QString> bundle = bundleForExecutable(runningExecutable_);
    if (!bundle || runningPid_ <= 0)
        return false;
    const std::optional<QString> newBundle = UpdateUnpacking::unpack(extractor_, temporaryFolder_, version, archive);
    // A bundle that could not start would replace a working one; an older signed archive
    // served under a newer version would be a downgrade the user never sees.
    const QString executable = QStringLiteral("/Contents/MacOS/") + QFileInfo(runningExecutable_).fileName();
    if (!newBundle || !UpdateUnpacking::isPlainExecutable(*newBundle + executable) || bundleVersion(*newBundle) != version)
        return false;

    // Copies made from it would keep the attribute; the script clears it once more after the swap.
    run_(QStringLiteral("/usr/bin/xattr"), {QStringLiteral("-dr"), QStringLiteral("com.apple.quarantine"), *newBundle});
    const std::optional<QString> script = UpdateUnpacking::writeScript(*newBundle, kSwapScript);
    if (!script)
        return false;
    run_(QStringLiteral("/bin/chmod"), {QStringLiteral("+x"), *script});

    // Without the script nobody would open the app again after it quits: then it stays.
    return launcher_.startDetached(QStringLiteral("/bin/bash"), {*script, QString::number(runningPid_), *newBundle, *bundle});
}

void MacInstaller::waitFor(const QString& program, const QStringList& arguments)
{
    QProcess::execute(program, arguments);
}
