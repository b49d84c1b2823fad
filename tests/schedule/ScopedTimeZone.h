#pragma once
// Sets the process time zone (TZ) for the life of the object, then puts the old one back.
#include <QtGlobal>
#include <ctime>

struct ScopedTimeZone {
    explicit ScopedTimeZone(const char* zone) { qputenv("TZ", zone), tzset(); }
    ~ScopedTimeZone() { hadOld ? qputenv("TZ", old) : qunsetenv("TZ"), tzset(); }
    const bool hadOld = qEnvironmentVariableIsSet("TZ");
    const QByteArray old = qgetenv("TZ");
};
