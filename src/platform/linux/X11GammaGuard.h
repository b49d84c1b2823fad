#pragma once
// Keeps our ramps on the screen. The X server says nothing when another client changes a
// CRTC's gamma, so while some CRTC holds our tables they are read back on a slow timer; a
// CRTC found changed is written again, and one reset over and over is left to the program
// that keeps doing it instead of flickering against it.

#include "platform/linux/GammaRamp.h"

#include <QTimer>

#include <deque>
#include <functional>
#include <map>

class X11GammaGuard {
public:
    enum class Verdict { reapply, giveUp };

    static constexpr int defaultIntervalMs = 2000;
    // This many resets within the window mean another program writes the ramps too.
    static constexpr int resetsForFight = 3;
    static constexpr qint64 fightWindowMs = 60000;
    // Per entry; a driver may hand back what it stored at its own depth (10 bits at worst).
    static constexpr int tolerance = 64;

    // `check` runs on every tick of the timer (on the main loop).
    explicit X11GammaGuard(std::function<void()> check);

    // The timer runs exactly while `watching` is true: with nothing to guard, no wakeups.
    void watch(bool watching);
    bool active() const { return timer_.isActive(); }
    void setInterval(int ms);
    int ticks() const { return ticks_; }

    // A reset of crtc seen at nowMs (a monotonic clock): write ours again, or give up on it.
    Verdict resetSeen(unsigned long crtc, qint64 nowMs);
    // A fresh start for crtc: its past resets no longer count.
    void forget(unsigned long crtc) { resets_.erase(crtc); }
    void forgetAll() { resets_.clear(); }

    // Whether what the CRTC holds is still what we wrote.
    static bool holds(const GammaRamp& current, const GammaRamp& ours);

private:
    QTimer timer_;
    int ticks_ = 0;
    std::map<unsigned long, std::deque<qint64>> resets_;
};
