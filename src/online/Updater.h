#pragma once
// Once per launch: fetch the update manifest, and when it announces a newer version, download
// the archive and check its Ed25519 signature; the platform's installer puts it in place.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <optional>

class EventLog;
class Installer;

struct Manifest {
    QString version;
    QString url;
    QString signature;
    std::optional<QString> notes;

    // Absent when a required member is missing, any known member has the wrong type, or the
    // version does not look like a version (it is stored, logged and names a folder).
    static std::optional<Manifest> decode(const QByteArray& body);
    static bool plausibleVersion(const QString& version);
};

class Updater : public QObject {
    Q_OBJECT

public:
    // How one check ended; for tests and diagnostics only.
    enum class Outcome {
        notConfigured,   // placeholder key or invalid manifest address: no request
        noManifest,      // unreachable, empty or invalid manifest: no log line
        notNewer,
        badArchiveURL,
        downloadFailed,  // archive unreachable, empty, or over the size cap
        badSignature,
        installFailed,   // verified, but the installation stopped before starting the swap
        installing,      // swap script started and quit requested
    };

    static constexpr bool autoInstall = true;
    static constexpr int manifestTimeoutMs = 10000;
    // The manifest is a few hundred bytes.
    static constexpr qint64 maxManifestBytes = 64 * 1024;
    // An update archive is a few megabytes; a hostile or broken server must not fill memory.
    static constexpr qint64 defaultMaxDownloadBytes = 256LL * 1024 * 1024;
    // A slow line may take long for the archive, but a server that sends nothing this long is gone.
    static constexpr int defaultArchiveIdleTimeoutMs = 30000;
    static constexpr const char* lastManifestVersionKey = "vesk.lastManifestVersion";
    static constexpr const char* placeholderKey = "UPDATE_PUBLIC_KEY";

    static Updater& shared();
    // server + "/update.json" from the build configuration.
    static QString defaultManifestURL();
    static QString defaultPublicKey();

    explicit Updater(QString manifestURL = defaultManifestURL(), QString publicKeyB64 = defaultPublicKey(),
        QObject* parent = nullptr);
    // Waits for a verification or installation still running in the background.
    ~Updater() override;

    // Starts the whole check; returns at once. Main thread.
    void checkInBackground();

    // -1 when a is older than b, 0 when equal, 1 when newer.
    static int compare(const QString& a, const QString& b);
    // The running version (the project version), or "0" when unknown.
    QString currentVersion() const;

    // Verifies and, when valid, installs and asks the app to quit; runs on a background
    // thread of this updater.
    Outcome verifyAndInstall(const QByteArray& zip, const Manifest& manifest);

    // Set by the application entry (not owned); without one nothing is installed.
    void setInstaller(Installer* installer) { installer_ = installer; }
    // Seams for tests.
    void setCurrentVersion(const QString& version) { currentVersion_ = version; }
    void setMaxDownloadBytes(qint64 bytes) { maxDownloadBytes_ = bytes; }
    void setArchiveIdleTimeoutMs(int ms) { archiveIdleTimeoutMs_ = ms; }
    void setEventLog(EventLog* log) { log_ = log; }
    QString manifestURL() const { return manifestURL_; }
    QString publicKeyB64() const { return publicKeyB64_; }

    // Blocks until background verification and installation are done.
    void waitForBackgroundWork();

    // Asks the application to quit through its normal path. Called from a background thread;
    // by default it posts QCoreApplication::quit to the main thread.
    std::function<void()> onQuitRequest;
    // Called on the main thread when a check has ended, with how it ended.
    std::function<void(Outcome)> onFinished;

private:
    void download(const Manifest& manifest);
    void finish(Outcome outcome);
    void log(const QString& message) const;

    QString manifestURL_;
    QString publicKeyB64_;
    QString currentVersion_;
    qint64 maxDownloadBytes_ = defaultMaxDownloadBytes;
    int archiveIdleTimeoutMs_ = defaultArchiveIdleTimeoutMs;
    EventLog* log_ = nullptr;
    Installer* installer_ = nullptr;
    QThreadPool background_;
};
