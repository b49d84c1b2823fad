#pragma once
// PWM-safe mode: pins the built-in panel's backlight and the external monitors' luminance at
// their maximum so that all dimming happens in the gamma tables, and puts every display back
// as it was when the mode is switched off.
//
// enable() and disable() block (verification polls, DDC traffic) and never overlap: direct
// calls and background requests all take turns on one lock, and background requests run in
// order on one worker thread. Display services are only ever called on the main thread.

#include "brightness/DDC.h"
#include "brightness/PWMState.h"
#include "platform/Backlight.h"
#include "platform/DisplayServices.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

class PWMSafe {
public:
    static constexpr int verifyAttempts = 5;
    static constexpr std::chrono::microseconds verifyInterval{120000};

    static PWMSafe& shared();

    PWMSafe();
    ~PWMSafe();
    PWMSafe(const PWMSafe&) = delete;
    PWMSafe& operator=(const PWMSafe&) = delete;

    // Backends. Each setter waits for a running enable or disable to finish first.
    void setDisplayServices(DisplayServices* displays);
    // The backlight's operations are taken over as they are now; absent ones stay absent.
    void setBacklight(const Backlight& backlight);
    void setDDC(DDC* ddc);
    // The pause before each verification poll; tests replace it.
    void setSleep(std::function<void(std::chrono::microseconds)> sleep);

    // Whether there is anything to pin: a backlight and a built-in display, or a DDC link
    // and an external display.
    bool available();
    // The built-in panel's level 0 to 1, absent without a backlight or built-in display.
    std::optional<float> builtinHardwareBrightness();

    void enable();
    // Drops background requests that have not started, waits for a running one, restores.
    void disable();
    // Fire and forget: queued and run one after another on the worker thread.
    void enableInBackground();
    void disableInBackground();
    // Waits until no request is queued or running (serving the worker's display queries).
    void waitUntilIdle();

    PWMState state() const { return state_.load(); }
    // Told each new state on the main thread, in the order the states were set.
    std::function<void(PWMState)> onStateChange;

    // What would be restored; read only while idle.
    const std::map<DisplayID, float>& savedBuiltin() const { return savedBuiltin_; }
    const std::map<DisplayID, bool>& savedALC() const { return savedALC_; }
    const std::vector<std::pair<DDCService, int>>& savedExternal() const { return savedExternal_; }

private:
    enum class Job { enable, disable };
    struct MainTask {
        std::function<void()> fn;
        bool done = false;
    };

    void doEnable();
    void doDisable();
    void setState(PWMState s);
    std::vector<DisplayID> builtinDisplays();

    void request(Job job);
    void workerLoop();
    // Takes and gives back the right to run an operation.
    void acquire();
    void release();
    // Runs fn on the main thread and waits for it.
    void callOnMain(const std::function<void()>& fn);
    void runMainTasks(std::unique_lock<std::mutex>& lock);
    static bool onMainThread();

    // Resolved from the backlight given.
    std::function<std::int32_t(DisplayID, float)> setBrightness_;
    std::function<std::int32_t(DisplayID, float*)> getBrightness_;
    std::function<std::int32_t(DisplayID, bool)> enableALC_;
    std::function<std::int32_t(DisplayID, bool*)> alcEnabled_;

    std::map<DisplayID, float> savedBuiltin_;
    std::map<DisplayID, bool> savedALC_;
    std::vector<std::pair<DDCService, int>> savedExternal_;
    std::atomic<PWMState> state_{PWMState::off};

    DisplayServices* displays_ = nullptr;
    DDC* ddc_ = nullptr;
    std::function<void(std::chrono::microseconds)> sleep_;

    std::mutex mutex_;
    std::condition_variable cv_;
    bool busy_ = false;
    bool stopping_ = false;
    std::deque<Job> queue_;
    std::deque<std::shared_ptr<MainTask>> mainTasks_;
    std::thread worker_;
    // Lives on the main thread: receives state deliveries and display queries.
    std::unique_ptr<QObject> context_;
};
