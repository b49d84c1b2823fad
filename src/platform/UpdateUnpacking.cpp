#include "platform/UpdateUnpacking.h"

#include "platform/ArchiveExtractor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// The version names a folder: it must stay one plain name.
bool usableInFolderName(const QString& version)
{
    return !version.isEmpty() && !version.contains(QLatin1Char('/')) && !version.contains(QChar(0))
        && version != QLatin1String(".") && version != QLatin1String("..") && version.toUtf8().size() <= 200;
}

}  // namespace

namespace UpdateUnpacking {

std::optional<QString> unpack(ArchiveExtractor& extractor, const QString& temporaryFolder,
    const QString& version, const QByteArray& archive)
{
    if (!usableInFolderName(version))
        return std::nullopt;
    // An old folder we cannot remove stops the installation (mkdir fails below).
    const QString work = QDir(temporaryFolder).filePath(QStringLiteral("veskupdate-") + version);
    const QFileInfo existing(work);
    if (existing.isSymLink() || (existing.exists() && !existing.isDir()))
        QFile::remove(work);
    else if (existing.exists())
        QDir(work).removeRecursively();
    if (!QDir().mkpath(temporaryFolder)
        || !QDir().mkdir(work, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return std::nullopt;

    const QString zip = QDir(work).filePath(QStringLiteral("u.zip"));
    {
        QFile file(zip);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(archive) != archive.size())
            return std::nullopt;
    }
    if (!extractor.extract(zip, work))
        return std::nullopt;

    const QStringList names = QDir(work).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QString& name : names) {
        if (name.endsWith(QLatin1String(".app"))) {
            const QString bundle = QDir(work).filePath(name);
            const QFileInfo info(bundle);
            if (!info.isDir() || info.isSymLink())
                return std::nullopt;
            return bundle;
        }
    }
    return std::nullopt;
}

bool isPlainExecutable(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() && info.isExecutable();
}

std::optional<QString> writeScript(const QString& newBundle, const QString& text)
{
    const QString script = QFileInfo(newBundle).absolutePath() + QStringLiteral("/swap.sh");
    QSaveFile file(script);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return std::nullopt;
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return script;
}

}  // namespace UpdateUnpacking
