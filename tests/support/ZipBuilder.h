#pragma once
// Builds zip archives in memory with libarchive, including hostile ones (absolute names,
// ".." components, links leading anywhere).

#include <QByteArray>
#include <QList>
#include <QString>
#include <archive.h>
#include <archive_entry.h>

class ZipBuilder {
public:
    ZipBuilder& file(const QString& path, const QByteArray& data, int mode = 0644) { return add({path, data, AE_IFREG, mode}); }
    ZipBuilder& folder(const QString& path, int mode = 0755) { return add({path, {}, AE_IFDIR, mode}); }
    ZipBuilder& symlink(const QString& path, const QString& target) { return add({path, {}, AE_IFLNK, 0777, target}); }
    // An installable bundle: <name>/bin/ambrano (a shell script that records its start in
    // <bundle's folder>/started-<version>) and <name>/share/ambrano/version.
    ZipBuilder& bundle(const QString& name, const QString& version)
    {
        const QString script = QStringLiteral("#!/bin/sh\necho $$ > \"$(dirname \"$0\")/../../started-%1\"\n").arg(version);
        return folder(name).file(name + "/bin/ambrano", script.toUtf8(), 0755)
            .file(name + "/share/ambrano/version", version.toUtf8() + '\n');
    }

    QByteArray build() const
    {
        QByteArray out;
        archive* writer = archive_write_new();
        archive_write_set_format_zip(writer);
        archive_write_open(writer, &out, nullptr, [](archive*, void* client, const void* buffer, size_t length) {
            static_cast<QByteArray*>(client)->append(static_cast<const char*>(buffer), static_cast<qsizetype>(length));
            return static_cast<la_ssize_t>(length);
        }, nullptr);
        for (const Entry& e : entries_) {
            archive_entry* entry = archive_entry_new();
            archive_entry_set_pathname(entry, e.path.toUtf8().constData());
            archive_entry_set_filetype(entry, static_cast<unsigned>(e.type));
            archive_entry_set_perm(entry, static_cast<mode_t>(e.mode));
            archive_entry_set_mtime(entry, 1700000000, 0);
            if (e.type == AE_IFLNK)
                archive_entry_set_symlink(entry, e.target.toUtf8().constData());
            archive_entry_set_size(entry, e.content.size());
            archive_write_header(writer, entry);
            archive_write_data(writer, e.content.constData(), static_cast<size_t>(e.content.size()));
            archive_entry_free(entry);
        }
        archive_write_close(writer);
        archive_write_free(writer);
        return out;
    }

private:
    struct Entry { QString path; QByteArray content; int type = 0, mode = 0; QString target = {}; };
    ZipBuilder& add(const Entry& entry) { return entries_.append(entry), *this; }
    QList<Entry> entries_;
};
