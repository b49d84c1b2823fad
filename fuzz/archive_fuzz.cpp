// Update archive extraction: nothing may land beside the folder, and no link in it may lead out.
#include "platform/linux/LibArchiveExtractor.h"
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QTemporaryDir sandbox;
    const QString root = QFileInfo(sandbox.path()).canonicalFilePath(), folder = root + QStringLiteral("/out");
    QFile archive(root + QStringLiteral("/in.zip"));
    if (!sandbox.isValid() || !QDir().mkpath(folder) || !archive.open(QIODevice::WriteOnly))
        return 0;
    archive.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    archive.close();
    LibArchiveExtractor().extract(archive.fileName(), folder);
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    const QFileInfo out(folder);
    if (QDir(root).entryList(all) != QStringList{QStringLiteral("in.zip"), QStringLiteral("out")} || !out.isDir() || out.isSymLink())
        std::abort();  // written beside the folder, or the folder itself replaced
    for (QDirIterator it(folder, all, QDirIterator::Subdirectories); it.hasNext();) {
        const QFileInfo entry(it.next());
        // A dangling link is harmless only while its target stays inside too.
        const QString to = entry.exists() ? entry.canonicalFilePath() : entry.symLinkTarget();
        if (entry.isSymLink() && !to.startsWith(folder + u'/') && to != folder)
            std::abort();
    }
    return 0;
}
