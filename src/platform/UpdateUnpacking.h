#pragma once
// The steps every installer shares before its own swap: a fresh work folder that only we can
// write to, the verified archive unpacked into it, the bundle found there, the script written.

#include <QByteArray>
#include <QString>

#include <optional>

class ArchiveExtractor;

namespace UpdateUnpacking {

// <temporary>/veskupdate-<version>, made afresh (a link in its place is removed, never
// followed), owner-only, with the archive written as u.zip and unpacked: the first entry
// ending in ".app" as the file system lists it, when that is a real folder.
std::optional<QString> unpack(ArchiveExtractor& extractor, const QString& temporaryFolder,
    const QString& version, const QByteArray& archive);
// A regular file (not a link) that we may run.
bool isPlainExecutable(const QString& path);
// The script written atomically beside the new bundle as swap.sh, executable by us; its path.
std::optional<QString> writeScript(const QString& newBundle, const QString& text);

}  // namespace UpdateUnpacking
