#pragma once
// Installation of a self-contained bundle: a folder "<name>.app" holding bin/ambrano and its
// version in share/ambrano/version. The running bundle is swapped for the new one by a small
// script that waits for this process to end, then starts the new version.

#include "platform/Installer.h"

#include <QString>

#include <optional>

class ArchiveExtractor;
class ProcessLauncher;

class BundleSwapInstaller : public Installer {
public:
    BundleSwapInstaller(ArchiveExtractor& extractor, ProcessLauncher& launcher);

    bool install(const QByteArray& archive, const QString& version) override;

    // The bundle folder (ending in ".app") holding an executable at <bundle>/bin/<name>.
    static std::optional<QString> bundleForExecutable(const QString& executablePath);
    // The swap script; its paths arrive as arguments: PID, NEW, CUR.
    static QString swapScript();
    // Where a bundle records its version (written at build time).
    static QString versionFile(const QString& bundle);

    // Seams for tests; by default the system's temporary folder and this process.
    void setTemporaryFolder(const QString& folder) { temporaryFolder_ = folder; }
    void setRunningExecutable(const QString& path) { runningExecutable_ = path; }
    void setRunningPid(qint64 pid) { runningPid_ = pid; }

private:
    ArchiveExtractor& extractor_;
    ProcessLauncher& launcher_;
    QString temporaryFolder_;
    QString runningExecutable_;
    qint64 runningPid_ = 0;
};
