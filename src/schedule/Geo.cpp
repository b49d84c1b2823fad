#include "schedule/Geo.h"

#include "schedule/AppSettings.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <memory>
#include <optional>

#ifndef AMBRANO_GEO_URL
#define AMBRANO_GEO_URL "http://ip-api.com"
#endif

namespace {

QString& baseUrl()
{
    static QString url = QStringLiteral(AMBRANO_GEO_URL);
    return url;
}

int& timeout()
{
    static int ms = Geo::defaultTimeoutMs;
    return ms;
}

QNetworkAccessManager& network()
{
    // One manager on the main thread for the life of the application.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return *manager;
}

using Location = Geo::Location;

std::optional<Location> parse(const QByteArray& body)
{
    if (body.isEmpty())
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject answer = doc.object();
    // The service's failure answer has a status but no coordinates.
    const QJsonValue lat = answer.value(QStringLiteral("lat"));
    const QJsonValue lon = answer.value(QStringLiteral("lon"));
    if (!lat.isDouble() || !lon.isDouble())
        return std::nullopt;
    // Never store a position the schedule could not use.
    if (!std::isfinite(lat.toDouble()) || !std::isfinite(lon.toDouble()))
        return std::nullopt;
    QStringList parts;
    for (const char* key : {"city", "country"}) {
        const QJsonValue v = answer.value(QLatin1String(key));
        if (v.isString() && !v.toString().isEmpty())
            parts.append(v.toString());
    }
    return Location{lat.toDouble(), lon.toDouble(), parts.join(QStringLiteral(", "))};
}

void start(std::function<void(bool)> completion)
{
    QString base = baseUrl();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base + QLatin1String(Geo::path), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        if (completion)
            completion(false);
        return;
    }
    QNetworkRequest request(url);
    // Our own deadline below covers the whole lookup; the reply's idle timeout stays off.
    request.setTransferTimeout(0);
    QNetworkReply* reply = network().get(request);

    // The reply and the deadline race; whichever comes first finishes, the other does nothing.
    auto done = std::make_shared<bool>(false);
    auto finish = [completion](bool ok) {
        if (completion)
            completion(ok);
    };

    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply, done, finish] {
        if (*done)
            return;
        *done = true;
        reply->abort();  // emits finished, which now does nothing
        reply->deleteLater();
        finish(false);
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done, finish] {
        reply->deleteLater();
        if (*done)
            return;
        *done = true;
        // Like the platform's URL loading: any body that arrived is read, whatever the status.
        const std::optional<Location> location = parse(reply->readAll());
        if (!location) {
            finish(false);
            return;
        }
        AppSettings::setLatitude(location->latitude);
        AppSettings::setLongitude(location->longitude);
        AppSettings::setLocationName(location->name);
        finish(true);
    });
    deadline->start(timeout());
}

}  // namespace

std::optional<Geo::Location> Geo::decode(const QByteArray& body)
{
    return parse(body);
}

QString Geo::serviceUrl()
{
    return baseUrl();
}

int Geo::timeoutMs()
{
    return timeout();
}

void Geo::setService(const QString& url, int ms)
{
    baseUrl() = url;
    timeout() = ms;
}

void Geo::detect(std::function<void(bool)> completion)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        // The network manager and the settings belong to the main thread.
        QMetaObject::invokeMethod(app, [completion = std::move(completion)]() mutable { start(std::move(completion)); },
            Qt::QueuedConnection);
        return;
    }
    start(std::move(completion));
}
