#pragma once
// Tells when the computer has woken from sleep.

#include <functional>

class SleepWatcher {
public:
    virtual ~SleepWatcher() = default;
    // Called on the main thread after each wake.
    virtual void setOnWake(std::function<void()> onWake) = 0;
};
