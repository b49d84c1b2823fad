#include "platform/linux/LibArchiveExtractor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

// The components of a relative path inside the work folder, "." and empty ones dropped.
// Absent when the path is absolute or has a ".." component.
std::optional<QList<QByteArray>> insideComponents(const QByteArray& path)
{
    if (path.isEmpty() || path.startsWith('/'))
        return std::nullopt;
    QList<QByteArray> parts;
    for (const QByteArray& part : path.split('/')) {
        if (part == "..")
            return std::nullopt;
        if (!part.isEmpty() && part != ".")
            parts.append(part);
    }
    if (parts.isEmpty())
        return std::nullopt;
    return parts;
}

// Whether a link at linkParts pointing at target stays inside the work folder (by its text;
// links inside the archive are never followed when writing, see ARCHIVE_EXTRACT_SECURE_SYMLINKS).
bool linkStaysInside(const QList<QByteArray>& linkParts, const QByteArray& target)
{
    if (target.isEmpty() || target.startsWith('/'))
        return false;
    QList<QByteArray> resolved = linkParts.mid(0, linkParts.size() - 1);
    for (const QByteArray& part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (resolved.isEmpty())
                return false;
            resolved.removeLast();
        } else {
            resolved.append(part);
        }
    }
    return true;
}

QByteArray joined(const QList<QByteArray>& parts)
{
    QByteArray out;
    for (const QByteArray& part : parts) {
        if (!out.isEmpty())
            out += '/';
        out += part;
    }
    return out;
}

// First pass: every entry is checked before anything is written.
bool archiveIsSafe(const QString& archivePath)
{
    Reader reader = openZip(archivePath);
    if (!reader)
        return false;
    QSet<QByteArray> links;
    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        const char* name = archive_entry_pathname(entry);
        const std::optional<QList<QByteArray>> parts = insideComponents(QByteArray(name ? name : ""));
        if (!parts)
            return false;
        // Nothing may be written through a link that the archive itself made.
        for (qsizetype n = 1; n < parts->size(); ++n) {
            if (links.contains(joined(parts->mid(0, n))))
                return false;
        }
        if (const char* hardlink = archive_entry_hardlink(entry)) {
            if (!insideComponents(QByteArray(hardlink)))
                return false;
            continue;
        }
        switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
        case AE_IFDIR:
            break;
        case AE_IFLNK: {
            const char* target = archive_entry_symlink(entry);
            if (!target || !linkStaysInside(*parts, QByteArray(target)))
                return false;
            links.insert(joined(*parts));
            break;
        }
        default:
            return false;
        }
    }
    return status == ARCHIVE_EOF;
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
        if (const char* hardlink = archive_entry_hardlink(entry))
            archive_entry_set_hardlink(entry, (prefix + hardlink).constData());
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
