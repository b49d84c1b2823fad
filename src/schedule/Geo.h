#pragma once
// The user's approximate position from the connection's public address, looked up once
// per request of the user at an IP-geolocation service over plain HTTP.

#include <QString>

#include <functional>

class Geo {
public:
    static constexpr const char* path = "/json/?fields=status,lat,lon,city,country";
    static constexpr int defaultTimeoutMs = 10 * 1000;
    // The answer is a hundred bytes or so.
    static constexpr qint64 maxAnswerBytes = 64 * 1024;

    // Starts the lookup and returns at once. The completion runs exactly once, on the main
    // thread: true after latitude, longitude and place name were stored, false when nothing was.
    static void detect(std::function<void(bool)> completion);

    // Scheme and host of the service (the build's AMBRANO_GEO_URL unless replaced) and the
    // time a lookup may take. Tests point these at a local server.
    static QString serviceUrl();
    static int timeoutMs();
    static void setService(const QString& baseUrl, int timeoutMs = defaultTimeoutMs);

    Geo() = delete;
};
