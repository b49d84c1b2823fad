#include "platform/linux/X11GammaGuard.h"

#include <cstdlib>

X11GammaGuard::X11GammaGuard(std::function<void()> check)
{
    timer_.setInterval(defaultIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this, check = std::move(check)] {
        ++ticks_;
        check();
    });
}

void X11GammaGuard::watch(bool watching)
{
    if (!watching)
        timer_.stop();
    else if (!timer_.isActive())
        timer_.start();  // a write while guarding does not push the next check back
}

void X11GammaGuard::setInterval(int ms)
{
    timer_.setInterval(ms);
}

X11GammaGuard::Verdict X11GammaGuard::resetSeen(unsigned long crtc, qint64 nowMs)
{
    std::deque<qint64>& times = resets_[crtc];
    times.push_back(nowMs);
    while (!times.empty() && nowMs - times.front() >= fightWindowMs)
        times.pop_front();
    return static_cast<int>(times.size()) >= resetsForFight ? Verdict::giveUp : Verdict::reapply;
}

bool X11GammaGuard::holds(const GammaRamp& current, const GammaRamp& ours)
{
    if (current.size() != ours.size())
        return false;
    auto near = [](const std::vector<std::uint16_t>& a, const std::vector<std::uint16_t>& b) {
        for (size_t i = 0; i < a.size(); ++i) {
            if (std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])) > tolerance)
                return false;
        }
        return true;
    };
    return near(current.red, ours.red) && near(current.green, ours.green) && near(current.blue, ours.blue);
}
