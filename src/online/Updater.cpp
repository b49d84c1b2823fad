#include "online/Updater.h"

#include "online/Fetch.h"
#include "online/OnlineConfig.h"
#include "platform/Installer.h"
#include "platform/SettingsStore.h"
#include "platform/Signature.h"
#include "system/EventLog.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

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
{
    background_.setMaxThreadCount(1);
}

Updater::~Updater()
{
    background_.waitForDone();
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
    if (!installer_ || !installer_->install(zip, manifest.version))
        return Outcome::installFailed;
    // Quit through the normal path, so displays and hardware are restored first.
    if (onQuitRequest) {
        onQuitRequest();
    } else if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    }
    return Outcome::installing;
}
