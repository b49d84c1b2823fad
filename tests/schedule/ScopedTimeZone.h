#pragma once
// Sets the process time zone (TZ) for the life of the object, then puts the old one back.

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
        : hadOld_(qEnvironmentVariableIsSet("TZ"))
        , old_(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (hadOld_)
            qputenv("TZ", old_);
        else
            qunsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool hadOld_;
    QByteArray old_;
};
