#include "system/EventLog.h"

#include <QTime>

EventLog& EventLog::shared()
{
    static EventLog instance;
    return instance;
}

void EventLog::add(const QString& message)
{
    // The time is taken before the lock, so lines from two threads may carry times out of order.
    const QString line = QLatin1Char('[') + QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))
        + QStringLiteral("] ") + message;
    std::lock_guard lock(mutex_);
    lines_.append(line);
    if (lines_.size() > maxLines)
        lines_.erase(lines_.begin(), lines_.begin() + (lines_.size() - maxLines));
}

QString EventLog::dump() const
{
    std::lock_guard lock(mutex_);
    return lines_.join(QLatin1Char('\n'));
}
