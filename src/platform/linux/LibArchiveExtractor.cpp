#include "platform/linux/LibArchiveExtractor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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

// Whether an entry's name is a relative path that stays inside the work folder.
bool staysInside(const QByteArray& path)
{
    if (path.isEmpty() || path.startsWith('/'))
        return false;
    bool named = false;
    for (const QByteArray& part : path.split('/')) {
        if (part == "..")
            return false;
        named = named || (!part.isEmpty() && part != ".");
    }
    return named;
}

// First pass: every entry is checked before anything is written.
bool archiveIsSafe(const QString& archivePath)
{
    Reader reader = openZip(archivePath);
    if (!reader)
        return false;
    archive_entry* entry = nullptr;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        const char* name = archive_entry_pathname(entry);
        if (!staysInside(QByteArray(name ? name : "")))
            return false;
        // A bundle needs no links, and a link (or a chain of them) can lead anywhere.
        if (archive_entry_hardlink(entry) || archive_entry_symlink(entry))
            return false;
        const auto type = archive_entry_filetype(entry);
        if (type != AE_IFREG && type != AE_IFDIR)
            return false;
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
