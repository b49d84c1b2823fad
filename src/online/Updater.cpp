#include "online/Updater.h"

#include "online/Fetch.h"
#include "online/OnlineConfig.h"
#include "platform/ArchiveExtractor.h"
#include "platform/ProcessLauncher.h"
#include "platform/SettingsStore.h"
#include "platform/Signature.h"
#include "system/EventLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

const QString kSwapScript = QStringLiteral(
    "#!/bin/bash\n"
    "while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done\n"
    "rm -rf \"$3.new\" && cp -a \"$2\" \"$3.new\" && rm -rf \"$3\" && mv \"$3.new\" \"$3\"\n"
    "# no quarantine attribute to clear on Linux\n"
    "setsid -f \"$3/bin/ambrano\" </dev/null >/dev/null 2>&1");

qint64 versionComponent(const QString& text)
{
    // An optional sign and digits only; anything else, or too large, counts as 0.
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return 0;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        const int digit = c.unicode() - '0';
        // Accumulate towards the sign so that the most negative value still fits.
        if (negative) {
            if (value < (std::numeric_limits<qint64>::min() + digit) / 10)
                return 0;
            value = value * 10 - digit;
        } else {
            if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
                return 0;
            value = value * 10 + digit;
        }
    }
    return value;
}

QList<qint64> versionComponents(const QString& version)
{
    QList<qint64> out;
    for (const QString& part : version.split(QLatin1Char('.'), Qt::SkipEmptyParts))
        out.append(versionComponent(part));
    return out;
}

// The version names a folder in the temporary folder: it must stay one plain name.
bool usableInFolderName(const QString& version)
{
    return !version.contains(QLatin1Char('/')) && !version.contains(QChar(0)) && version.toUtf8().size() <= 200;
}

bool isPlainFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

}  // namespace

std::optional<Manifest> Manifest::decode(const QByteArray& body)
{
    QJsonParseError error {};
    const QJsonDocument json = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !json.isObject())
        return std::nullopt;
    const QJsonObject root = json.object();
    const QJsonValue version = root.value(QStringLiteral("version"));
    const QJsonValue url = root.value(QStringLiteral("url"));
    const QJsonValue signature = root.value(QStringLiteral("signature"));
    const QJsonValue notes = root.value(QStringLiteral("notes"));
    if (!version.isString() || !url.isString() || !signature.isString() || !plausibleVersion(version.toString()))
        return std::nullopt;
    Manifest manifest {version.toString(), url.toString(), signature.toString(), std::nullopt};
    if (!notes.isUndefined()) {
        if (!notes.isString())
            return std::nullopt;
        manifest.notes = notes.toString();
    }
    return manifest;
}

bool Manifest::plausibleVersion(const QString& version)
{
    // Numbers with dots, an optional suffix such as "-beta2"; short enough for a log line.
    static const QRegularExpression pattern(QStringLiteral("^[0-9]+(\\.[0-9]+)*([-+][0-9A-Za-z.]+)?$"));
    return version.size() <= 32 && pattern.match(version).hasMatch();
}

Updater& Updater::shared()
{
    static Updater* instance = new Updater;  // never destroyed
    return *instance;
}

QString Updater::defaultManifestURL()
{
    return OnlineConfig::serverURL() + QStringLiteral("/update.json");
}

QString Updater::defaultPublicKey()
{
    return OnlineConfig::updatePublicKey();
}

Updater::Updater(QString manifestURL, QString publicKeyB64, QObject* parent)
    : QObject(parent)
    , manifestURL_(std::move(manifestURL))
    , publicKeyB64_(std::move(publicKeyB64))
    , currentVersion_(QStringLiteral(AMBRANO_VERSION))
    , temporaryFolder_(QDir::tempPath())
{
    if (QCoreApplication::instance()) {
        runningExecutable_ = QCoreApplication::applicationFilePath();
        runningPid_ = QCoreApplication::applicationPid();
    }
    background_.setMaxThreadCount(1);
}

Updater::~Updater()
{
    background_.waitForDone();
}

void Updater::setInstallServices(ArchiveExtractor* extractor, ProcessLauncher* launcher)
{
    extractor_ = extractor;
    launcher_ = launcher;
}

void Updater::waitForBackgroundWork()
{
    background_.waitForDone();
}

QString Updater::currentVersion() const
{
    return currentVersion_.isEmpty() ? QStringLiteral("0") : currentVersion_;
}

int Updater::compare(const QString& a, const QString& b)
{
    const QList<qint64> left = versionComponents(a);
    const QList<qint64> right = versionComponents(b);
    const qsizetype length = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < length; ++i) {
        const qint64 x = i < left.size() ? left[i] : 0;
        const qint64 y = i < right.size() ? right[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

void Updater::log(const QString& message) const
{
    (log_ ? *log_ : EventLog::shared()).add(message);
}

void Updater::finish(Outcome outcome)
{
    if (onFinished)
        onFinished(outcome);
}

void Updater::checkInBackground()
{
    if (publicKeyB64_ == QLatin1String(placeholderKey)) {
        finish(Outcome::notConfigured);
        return;
    }
    const QUrl url(manifestURL_, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative()) {
        finish(Outcome::notConfigured);
        return;
    }
    Fetch::get(url, {maxManifestBytes, manifestTimeoutMs, 0, "update manifest"}, this, [this](const Fetch::Result& result) {
        // The HTTP status does not matter: any body that came whole is tried.
        const std::optional<Manifest> manifest = result.ok() ? Manifest::decode(result.body) : std::nullopt;
        if (!manifest) {
            finish(Outcome::noManifest);
            return;
        }
        SettingsStore::shared().setValue(QString::fromLatin1(lastManifestVersionKey), manifest->version);
        log(QStringLiteral("update: manifest %1 vs current %2").arg(manifest->version, currentVersion()));
        if (compare(manifest->version, currentVersion()) != 1) {
            finish(Outcome::notNewer);
            return;
        }
        download(*manifest);
    });
}

void Updater::download(const Manifest& manifest)
{
    const QUrl url(manifest.url, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.isRelative() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        finish(Outcome::badArchiveURL);
        return;
    }
    const Fetch::Limits limits {maxDownloadBytes_, 0, archiveIdleTimeoutMs_, "update archive"};
    Fetch::get(url, limits, this, [this, manifest](const Fetch::Result& result) {
        if (!result.ok() || result.body.isEmpty()) {
            finish(Outcome::downloadFailed);
            return;
        }
        // The check and the installation run off the main thread; the result comes back here.
        const QByteArray zip = result.body;
        background_.start([this, zip, manifest] {
            const Outcome outcome = verifyAndInstall(zip, manifest);
            QMetaObject::invokeMethod(this, [this, outcome] { finish(outcome); }, Qt::QueuedConnection);
        });
    });
}

Updater::Outcome Updater::verifyAndInstall(const QByteArray& zip, const Manifest& manifest)
{
    if (!Signature::verify(publicKeyB64_, manifest.signature, zip)) {
        log(QStringLiteral("update: BAD signature, refusing"));
        return Outcome::badSignature;
    }
    log(QStringLiteral("update: signature OK, installing %1").arg(manifest.version));
    return install(zip, manifest.version) ? Outcome::installing : Outcome::installFailed;
}

std::optional<QString> Updater::bundleForExecutable(const QString& executablePath)
{
    if (executablePath.isEmpty())
        return std::nullopt;
    const QString exe = QDir::cleanPath(QFileInfo(executablePath).absoluteFilePath());
    const QFileInfo binFolder(QFileInfo(exe).absolutePath());
    if (binFolder.fileName() != QLatin1String("bin"))
        return std::nullopt;
    const QString bundle = binFolder.absolutePath();
    if (!bundle.endsWith(QLatin1String(".app")) || bundle == QLatin1String("/.app"))
        return std::nullopt;
    return bundle;
}

QString Updater::swapScript()
{
    return kSwapScript;
}

bool Updater::install(const QByteArray& zip, const QString& version)
{
    // Installed by a package manager (not from a ".app" folder): updates are its business.
    const std::optional<QString> bundle = bundleForExecutable(runningExecutable_);
    if (!bundle || !extractor_ || !launcher_ || !usableInFolderName(version))
        return false;

    // 1-2. A fresh work folder that only we can write to. A link in its place is removed, never
    // followed, and an old folder we cannot remove stops the installation.
    const QString work = QDir(temporaryFolder_).filePath(QStringLiteral("veskupdate-") + version);
    const QFileInfo existing(work);
    if (existing.isSymLink() || (existing.exists() && !existing.isDir()))
        QFile::remove(work);
    else if (existing.exists())
        QDir(work).removeRecursively();
    if (!QDir().mkpath(temporaryFolder_)
        || !QDir().mkdir(work, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return false;

    // 3.
    const QString archive = QDir(work).filePath(QStringLiteral("u.zip"));
    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(zip) != zip.size())
            return false;
    }

    // 4. A refused archive leaves nothing to install.
    if (!extractor_->extract(archive, work))
        return false;

    // 5. The first ".app" name in the order the file system lists them.
    const QStringList names = QDir(work).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Unsorted);
    QString newBundle;
    for (const QString& name : names) {
        if (name.endsWith(QLatin1String(".app"))) {
            newBundle = QDir(work).filePath(name);
            break;
        }
    }
    if (newBundle.isEmpty() || !isPlainFolder(newBundle))
        return false;

    // 6. Nothing to clear: Linux has no quarantine attribute.

    // 7-9. The script takes its paths as arguments, so no path can change what it does.
    const QString script = QDir(work).filePath(QStringLiteral("swap.sh"));
    {
        QSaveFile file(script);
        const QByteArray text = swapScript().toUtf8();
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
            return false;
    }
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner | QFileDevice::ExeUser);

    // 10. A failure to start is not an error of its own: we quit all the same.
    launcher_->startDetached(QStringLiteral("/bin/bash"),
        {script, QString::number(runningPid_), newBundle, *bundle});

    // 11. Quit through the normal path, so displays and hardware are restored first.
    if (onQuitRequest) {
        onQuitRequest();
    } else if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    }
    return true;
}
