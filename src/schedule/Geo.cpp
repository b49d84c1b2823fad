#include "schedule/Geo.h"

#include "online/Fetch.h"
#include "schedule/AppSettings.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QThread>
#include <QUrl>

#include <cmath>
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

struct Location {
    double latitude;
    double longitude;
    QString name;
};

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
    Fetch::get(url, {Geo::maxAnswerBytes, timeout(), 0, "location answer"}, nullptr,
        [completion = std::move(completion)](const Fetch::Result& result) {
            // Like the platform's URL loading: any body that arrived is read, whatever the status.
            const std::optional<Location> location = result.ok() ? parse(result.body) : std::nullopt;
            if (location) {
                AppSettings::setLatitude(location->latitude);
                AppSettings::setLongitude(location->longitude);
                AppSettings::setLocationName(location->name);
            }
            if (completion)
                completion(location.has_value());
        });
}

}  // namespace

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
