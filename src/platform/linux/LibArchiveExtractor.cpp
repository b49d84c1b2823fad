#include "platform/linux/LibArchiveExtractor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <optional>

namespace {

struct ReadCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteCloser {
    void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReadCloser>;
using Writer = std::unique_ptr<archive, WriteCloser>;

Reader openZip(const QString& path)
{
    Reader reader(archive_read_new());
    if (!reader)
        return nullptr;
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(path).constData(), 64 * 1024) != ARCHIVE_OK)
        return nullptr;
    return reader;
}

using Path = QList<QByteArray>;
using Links = QHash<QByteArray, QByteArray>;  // link name → its target, as the archive has them

QByteArray joined(const Path& parts)
{
    return parts.join('/');
}

// The folder-relative path that `pending` names once every link of the archive on its way is
// followed, as the file system would; absent when it leaves the folder, is absolute or loops.
std::optional<Path> resolve(Path pending, const Links& links)
{
    Path resolved;
    int hops = 0;
    while (!pending.isEmpty()) {
        const QByteArray part = pending.takeFirst();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (resolved.isEmpty())
                return std::nullopt;
            resolved.removeLast();
            continue;
        }
        resolved.append(part);
        const auto link = links.constFind(joined(resolved));
        if (link == links.constEnd())
            continue;
        if (++hops > 40 || link->startsWith('/'))  // the kernel gives up after 40 too
            return std::nullopt;
        resolved.removeLast();
        pending = link->split('/') + pending;
    }
    return resolved;
}

// An entry's name as components: relative, no "..", not empty.
std::optional<Path> entryPath(const QByteArray& name)
{
    if (name.isEmpty() || name.startsWith('/'))
        return std::nullopt;
    Path parts;
    for (const QByteArray& part : name.split('/')) {
        if (part == "..")
            return std::nullopt;
        if (!part.isEmpty() && part != ".")
            parts.append(part);
    }
    if (parts.isEmpty())
        return std::nullopt;
    return parts;
}

// First pass: every entry is checked before anything is written. Links are judged by where
// they lead once all the archive's links exist, so a chain of harmless-looking links (l1 → .,
// l2 → l1/l1/..) or a later link under an earlier one's target cannot point outside.
bool archiveIsSafe(const QString& archivePath)
{
    Reader reader = openZip(archivePath);
    if (!reader)
        return false;
    QList<Path> entries;
    QSet<QByteArray> names;
    Links links;
    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        const char* name = archive_entry_pathname(entry);
        const std::optional<Path> path = entryPath(QByteArray(name ? name : ""));
        // A name given twice could turn a checked entry into a link after the check.
        if (!path || names.contains(joined(*path)))
            return false;
        names.insert(joined(*path));
        // A bundle needs no hard links.
        if (archive_entry_hardlink(entry))
            return false;
        switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
        case AE_IFDIR:
            entries.append(*path);
            break;
        case AE_IFLNK: {
            const char* target = archive_entry_symlink(entry);
            if (!target || !*target || *target == '/')
                return false;
            links.insert(joined(*path), QByteArray(target));
            entries.append(*path);
            break;
        }
        default:
            return false;
        }
    }
    if (status != ARCHIVE_EOF)
        return false;
    for (const Path& path : entries) {
        // Nothing is written through a link the archive made: every folder on the way is real.
        for (qsizetype n = 1; n < path.size(); ++n) {
            if (links.contains(joined(path.mid(0, n))))
                return false;
        }
        const auto link = links.constFind(joined(path));
        if (link != links.constEnd() && !resolve(path.mid(0, path.size() - 1) + link->split('/'), links))
            return false;
    }
    return true;
}

bool copyData(archive* reader, archive* writer)
{
    const void* buffer = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int status = archive_read_data_block(reader, &buffer, &size, &offset);
        if (status == ARCHIVE_EOF)
            return true;
        if (status != ARCHIVE_OK)
            return false;
        if (archive_write_data_block(writer, buffer, size, offset) < ARCHIVE_WARN)
            return false;
    }
}

}  // namespace

bool LibArchiveExtractor::extract(const QString& archivePath, const QString& folder)
{
    // A real path, so that the symlink check below never trips over the folder's own ancestors.
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty() || !QFileInfo(root).isDir())
        return false;
    if (!archiveIsSafe(archivePath))
        return false;

    Reader reader = openZip(archivePath);
    Writer writer(archive_write_disk_new());
    if (!reader || !writer)
        return false;
    // Defence in depth behind the first pass. No owner or set-id bits are restored.
    archive_write_disk_set_options(writer.get(),
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    const QByteArray prefix = QFile::encodeName(root) + '/';

    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        archive_entry_set_pathname(entry, (prefix + archive_entry_pathname(entry)).constData());
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            return false;
        if (archive_entry_size(entry) > 0 && !copyData(reader.get(), writer.get()))
            return false;
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            return false;
    }
    if (status != ARCHIVE_EOF)
        return false;
    return archive_write_close(writer.get()) >= ARCHIVE_WARN;
}
