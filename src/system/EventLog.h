#pragma once
// The in-memory support log: the newest 200 lines "[HH:mm:ss] message". Thread-safe.

#include <QString>
#include <QStringList>

#include <mutex>

class EventLog {
public:
    static constexpr int maxLines = 200;

    static EventLog& shared();

    void add(const QString& message);
    // Every line, oldest first, joined by "\n", no trailing line feed.
    QString dump() const;

    EventLog() = default;

private:
    mutable std::mutex mutex_;
    QStringList lines_;
};
