#pragma once
// Helpers shared by the tests.

#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

#include <functional>

// Points the shared settings store at an empty file in a fresh folder for one test.
class FreshSettings {
public:
    FreshSettings() { SettingsStore::shared().open(path()); }
    QString path() const { return dir_.path() + QStringLiteral("/Halvex/settings.json"); }
    QString folder() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// Runs the event loop until the condition holds or the time is up; returns the condition.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for a while.
inline void spin(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}
