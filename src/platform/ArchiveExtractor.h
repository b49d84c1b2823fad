#pragma once
// Unpacking an update archive into a folder.

#include <QString>

class ArchiveExtractor {
public:
    virtual ~ArchiveExtractor() = default;
    // Unpacks the zip at archivePath into folder. Refuses the whole archive, writing nothing,
    // when any entry is absolute, climbs out with "..", is a link that leads outside the folder
    // (followed through the archive's other links) or is written through one, or is not a plain
    // file, folder or symbolic link. False when refused or unreadable.
    virtual bool extract(const QString& archivePath, const QString& folder) = 0;
};
