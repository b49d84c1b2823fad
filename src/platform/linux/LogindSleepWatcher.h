#pragma once
// Wake from sleep through logind's PrepareForSleep(false) on the system bus. Without a
// system bus it stays silent.

#include "platform/SleepWatcher.h"

#include <QDBusConnection>
#include <QObject>

class LogindSleepWatcher : public QObject, public SleepWatcher {
    Q_OBJECT

public:
    explicit LogindSleepWatcher(QDBusConnection bus = QDBusConnection::systemBus());

    void setOnWake(std::function<void()> onWake) override { onWake_ = std::move(onWake); }
    bool isListening() const { return listening_; }

private slots:
    void prepareForSleep(bool start);

private:
    std::function<void()> onWake_;
    bool listening_ = false;
};
