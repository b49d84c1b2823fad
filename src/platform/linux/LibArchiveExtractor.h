#pragma once
// Unpacks zip archives with libarchive, after checking every entry first.

#include "platform/ArchiveExtractor.h"

class LibArchiveExtractor : public ArchiveExtractor {
public:
    bool extract(const QString& archivePath, const QString& folder) override;
};
