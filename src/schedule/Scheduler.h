#pragma once
// Moves the filter's warmth through day, evening and night while the automatic mode is on,
// by fixed starting hours or by the sun at the remembered location. Main thread only.

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

class VeskEngine;

class Scheduler : public QObject {
    Q_OBJECT

public:
    static Scheduler& shared();

    // The shared scheduler drives the shared engine; tests hand in their own.
    explicit Scheduler(VeskEngine& engine, QObject* parent = nullptr);

    // Restarts the schedule from the current settings and re-asserts the current period.
    void refresh();

    // The current instant; replaced by tests that walk through a day.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

    // The target last handed to the engine; -1 when none since the last refresh.
    double lastWarmth() const { return lastWarmth_; }
    bool isRunning() const { return timer_.isActive(); }
    int tickInterval() const { return timer_.interval(); }
    // Takes effect at the next refresh; tests shorten it.
    void setTickInterval(int ms) { timer_.setInterval(ms); }

    static constexpr int defaultTickInterval = 60 * 1000;

private:
    void apply();
    double targetWarmth() const;

    VeskEngine& engine_;
    QTimer timer_;
    double lastWarmth_ = -1.0;
};
