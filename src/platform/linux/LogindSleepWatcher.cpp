#include "platform/linux/LogindSleepWatcher.h"

LogindSleepWatcher::LogindSleepWatcher(QDBusConnection bus)
{
    if (!bus.isConnected())
        return;
    listening_ = bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(prepareForSleep(bool)));
}

void LogindSleepWatcher::prepareForSleep(bool start)
{
    if (!start && onWake_)
        onWake_();
}
