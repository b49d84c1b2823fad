// Update archive extraction into a temporary folder. After each input nothing may exist
// beside the folder, and no link inside it may lead out of it.
#include "platform/linux/LibArchiveExtractor.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "archive_fuzz: %s\n", qPrintable(what));
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 0;
    const QString root = QFileInfo(sandbox.path()).canonicalFilePath();
    const QString archive = root + QStringLiteral("/in.zip");
    const QString folder = root + QStringLiteral("/out");
    QDir().mkpath(folder);
    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    LibArchiveExtractor().extract(archive, folder);

    const QStringList beside = QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (beside != QStringList{QStringLiteral("in.zip"), QStringLiteral("out")})
        fail(QStringLiteral("written beside the folder: ") + beside.join(QLatin1Char(' ')));
    if (!QFileInfo(folder).isDir() || QFileInfo(folder).isSymLink())
        fail(QStringLiteral("the folder itself was replaced"));
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        if (!entry.isSymLink())
            continue;
        // A dangling link is harmless only while its target stays inside too.
        const QString resolved = entry.exists() ? entry.canonicalFilePath() : entry.symLinkTarget();
        if (!resolved.startsWith(folder + QLatin1Char('/')) && resolved != folder)
            fail(QStringLiteral("link leads out: ") + entry.filePath() + QStringLiteral(" -> ") + resolved);
    }
    return 0;
}
