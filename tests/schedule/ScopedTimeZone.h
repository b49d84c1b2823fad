#pragma once
// Sets the process time zone (TZ) for the life of the object, then puts the old one back.

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) { set(zone); }
    ~ScopedTimeZone() { set(hadOld_ ? old_.constData() : nullptr); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    static void set(const char* zone)
    {
        zone ? qputenv("TZ", zone) : qunsetenv("TZ");
        tzset();
    }
    const bool hadOld_ = qEnvironmentVariableIsSet("TZ");
    const QByteArray old_ = qgetenv("TZ");
};
