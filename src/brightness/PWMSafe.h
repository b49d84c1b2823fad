#pragma once
// PWM-safe mode: pins the built-in panel's backlight and the external monitors' luminance at
// their maximum so that all dimming happens in the gamma tables, and puts every display back
// as it was when the mode is switched off.
//
// enable() and disable() block (verification polls, DDC traffic) and never overlap. Background
// requests run in order on one worker thread. Display services are only called on the main
// thread: a background enable takes the built-in display list when it is queued.

#include "brightness/DDC.h"
#include "brightness/PWMState.h"
#include "platform/Backlight.h"
#include "platform/DisplayServices.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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

    // Everything below is called on the main thread.

    // Whether there is anything to pin: a backlight and a built-in display, or a DDC link
    // and an external display.
    bool available();
    // The built-in panel's level 0 to 1, absent without a backlight or built-in display.
    std::optional<float> builtinHardwareBrightness();

    // Waits for a running background request, then runs here.
    void enable();
    // Drops background requests that have not started, waits for a running one, restores.
    void disable();
    // Fire and forget: run one after another on the worker thread.
    void enableInBackground();
    void disableInBackground();
    // Waits until no background request is queued or running.
    void waitUntilIdle();

    PWMState state() const { return state_.load(); }
    // Told each new state on the main thread, in the order the states were set.
    std::function<void(PWMState)> onStateChange;

    // What would be restored; read only while idle.
    const std::map<DisplayID, float>& savedBuiltin() const { return savedBuiltin_; }
    const std::map<DisplayID, bool>& savedALC() const { return savedALC_; }
    const std::vector<std::pair<DDCService, int>>& savedExternal() const { return savedExternal_; }

private:
    void doEnable(const std::vector<DisplayID>& builtins);
    void doDisable();
    void setState(PWMState s);
    std::vector<DisplayID> builtinDisplays();
    // Queues job on the worker; it is skipped if a disable() came in between.
    void request(std::function<void()> job);

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

    // Held by the enable or disable that runs, and by the setters.
    std::mutex running_;
    // Moved on by disable(): requests queued before it see the change and do nothing.
    std::atomic<unsigned> generation_{0};
    // Lives on the main thread: state deliveries are queued to it.
    std::unique_ptr<QObject> context_;
    // One thread, so requests run in the order they were made.
    QThreadPool worker_;
};
