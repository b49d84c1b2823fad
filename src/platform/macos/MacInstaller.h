#pragma once
// Installation of an application bundle: "<name>.app" with Contents/MacOS/<executable> and
// its version in Contents/Info.plist. The new bundle's quarantine attribute is cleared, and a
// small script, started as we quit, waits for this process to end, swaps the bundles by
// renames and opens the new one. The paths reach the script as arguments, never as its text.

#include "platform/Installer.h"

#include <QStringList>

#include <functional>
#include <optional>

class ArchiveExtractor;
class ProcessLauncher;

class MacInstaller : public Installer {
public:
    // Runs a program and waits for it; its result is not looked at.
    using Run = std::function<void(const QString& program, const QStringList& arguments)>;

    MacInstaller(ArchiveExtractor& extractor, ProcessLauncher& launcher, Run run = waitFor);

    bool install(const QByteArray& archive, const QString& version) override;

    // The five-line script; its paths arrive as arguments: PID, NEW, CUR.
    static QString swapScript();
    // The bundle an executable at <bundle>/Contents/MacOS/<name> belongs to.
    static std::optional<QString> bundleForExecutable(const QString& executablePath);
    // CFBundleShortVersionString of the bundle's Info.plist.
    static std::optional<QString> bundleVersion(const QString& bundle);
    static void waitFor(const QString& program, const QStringList& arguments);

    // Seams for tests; by default the system's temporary folder and this process.
    void setTemporaryFolder(const QString& folder) { temporaryFolder_ = folder; }
    void setRunningExecutable(const QString& path) { runningExecutable_ = path; }
    void setRunningPid(qint64 pid) { runningPid_ = pid; }

private:
    ArchiveExtractor& extractor_;
    ProcessLauncher& launcher_;
    Run run_;
    QString temporaryFolder_;
    QString runningExecutable_;
    qint64 runningPid_ = 0;
};
