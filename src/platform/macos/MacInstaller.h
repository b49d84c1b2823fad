#pragma once
// Puts a verified, unpacked application bundle in place of the running one: clears its
// quarantine attribute, writes the swap script beside it and starts the script, which waits
// for this process to end, swaps the bundles by renames and opens the new one. The paths
// reach the script as arguments, never as part of its text.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class MacInstaller {
public:
    // Runs a program and waits for it; its result is not looked at.
    using Run = std::function<void(const QString& program, const QStringList& arguments)>;
    // Starts a program that outlives us; false when it could not be started.
    using Start = std::function<bool(const QString& program, const QStringList& arguments)>;

    explicit MacInstaller(Run run = waitFor, Start start = startDetached);

    // newBundle: the unpacked "….app" folder inside the installation's work folder, where the
    // script is written. currentBundle: the running bundle. pid: the running process. False,
    // with nothing started, when either bundle is unfit; true once the script was started
    // (or could not be, which leaves the old version in place).
    bool install(const QString& newBundle, const QString& currentBundle, qint64 pid) const;

    // The five-line script; arguments PID, NEW, CUR.
    static QString swapScript();
    // The bundle an executable at <bundle>/Contents/MacOS/<name> belongs to.
    static std::optional<QString> bundleForExecutable(const QString& executablePath);

    static void waitFor(const QString& program, const QStringList& arguments);
    static bool startDetached(const QString& program, const QStringList& arguments);

private:
    Run run_;
    Start start_;
};
