#include "brightness/PWMSafe.h"
#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "RecordingDDCTransport.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QThread>
#include <atomic>
#include <thread>

namespace {
using States = std::vector<PWMState>;
using Sets = std::vector<std::pair<std::string, int>>;
constexpr PWMState waiting = PWMState::waiting, active = PWMState::active, unsupported = PWMState::unsupported;
bool onMainThread() { return QThread::currentThread() == qApp->thread(); }

// Counts display queries made off the main thread (the X11 backend is not thread-safe).
struct ThreadCheckingDisplays : FakeDisplayServices {
    std::atomic<int> offMain{0};
    std::vector<DisplayID> activeDisplays() override { return offMain += !onMainThread(), FakeDisplayServices::activeDisplays(); }
    bool isBuiltin(DisplayID d) override { return offMain += !onMainThread(), FakeDisplayServices::isBuiltin(d); }
};
}  // namespace

TEST(PWMSafe, PinsAndPutsBackOnlyAcknowledgedLevelsAvailabilityAndRequestsOneAtATimeUntilQuitting)
{
    ThreadCheckingDisplays displays;
    FakeBacklight backlight;
    RecordingDDCTransport transport;
    DDC ddc{&transport};
    std::atomic<int> polls{0};
    States states;
    PWMSafe pwm;  // after the things it uses: destroyed first
    pwm.setDisplayServices(&displays);
    pwm.setDDC(&ddc);
    pwm.setBacklight(backlight.functions());
    pwm.setSleep([&](std::chrono::microseconds d) { polls += d.count() == 120000; });
    pwm.onStateChange = [&](PWMState s) { states.push_back(onMainThread() ? s : PWMState::off); };  // told off the main thread: wrong
    const auto addPanel = [&](DisplayID id, float level, bool alc = true) { displays.addDisplay(id, true), backlight.panels[id] = {level, alc}; };
    const auto addMonitor = [&](const std::string& connector, int current, int max, bool answers = true, bool acks = true) {
        transport.monitors[connector] = {current, max, answers, acks}, transport.addService(connector);
    };
    const auto sets = [&] {  // the Set messages sent, as monitor and value
        Sets out;
        for (const auto& e : transport.events())
            if (e.kind == RecordingDDCTransport::Event::write && e.bytes.size() == 6)
                out.emplace_back(e.connector, e.bytes[3] * 256 + e.bytes[4]);
        return out;
    };
    const auto delivered = [&](size_t n) { return waitFor([&] { return states.size() >= n; }); };

    addPanel(7, 0.37f, true);  // not display 1, so that a display mixed up with its flag shows
    addPanel(8, 0.42f, false);
    addMonitor("DP-1", 35, 255);
    addMonitor("HDMI-A-1", 20, 80, false);  // unreadable: pinned at 100, and 100 is what it gets back
    pwm.enable();
    pwm.enable();  // the monitors are left as they are
    EXPECT_TRUE(pwm.state() == active && backlight.level(7) == 1.0f && backlight.level(8) == 1.0f && !backlight.alc(7));
    EXPECT_EQ(polls, 2);  // held at the first poll
    EXPECT_EQ(sets(), (Sets{{"DP-1", 255}, {"DP-1", 255}, {"HDMI-A-1", 100}, {"HDMI-A-1", 100}}));
    transport.clearEvents();
    pwm.disable();
    EXPECT_TRUE(backlight.level(7) == 0.37f && backlight.alc(7) && backlight.level(8) == 0.42f && !backlight.alc(8)
        && pwm.savedBuiltin().empty() && pwm.savedALC().empty() && pwm.savedExternal().empty());
    EXPECT_EQ(sets(), (Sets{{"DP-1", 35}, {"DP-1", 35}, {"HDMI-A-1", 100}, {"HDMI-A-1", 100}}));
    ASSERT_TRUE(delivered(5));
    EXPECT_EQ(states, (States{waiting, active, waiting, active, PWMState::off}));
    polls = 0, states.clear(), displays.displays.clear(), transport.services.clear(), transport.clearEvents();
    displays.addDisplay(2);
    addMonitor("DP-1", 60, 100);
    EXPECT_TRUE(pwm.available());
    transport.isAvailable = false;
    EXPECT_FALSE(pwm.available() || pwm.builtinHardwareBrightness());  // no built-in display
    displays.addDisplay(1, true);
    EXPECT_FALSE(pwm.builtinHardwareBrightness());  // the backlight cannot read it
    backlight.panels[1] = {-1.0f, false};
    EXPECT_FALSE(pwm.builtinHardwareBrightness());  // nor a level below 0
    backlight.panels[1] = {0.25f, false};
    EXPECT_TRUE(pwm.builtinHardwareBrightness() == 0.25f && pwm.available());
    pwm.setBacklight({});
    EXPECT_FALSE(pwm.builtinHardwareBrightness() || pwm.available());
    transport.services.clear();
    pwm.enable();  // a built-in display without backlight functions
    EXPECT_TRUE(pwm.state() == unsupported && pwm.savedBuiltin().empty() && pwm.savedALC().empty() && pwm.savedExternal().empty() && polls == 0);
    // A write nobody acknowledged pinned nothing: the display still flickers.
    const struct { std::optional<float> settles; bool refuses, monitors; PWMState state; int polls; } cases[] = {
        {0.9f, false, false, active, 5},  // taken, though it never holds
        {{}, true, false, unsupported, 5},
        {{}, false, false, unsupported, 0},  // beside a monitor with DDC/CI off
        {{}, false, true, active, 0},  // beside another that is on
    };
    Backlight refusing = backlight.functions();
    refusing.setBrightness = [](DisplayID, float) { return -1; };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        pwm.disable();  // forgets what the case before pinned
        displays.displays.clear(), transport.services.clear(), polls = 0;
        if (c.settles || c.refuses)
            addPanel(1, 0.3f);
        if (!c.settles)
            addMonitor("HDMI-A-1", 20, 100, false, false);
        if (c.monitors)
            addMonitor("DP-1", 40, 100);
        backlight.settlesAt = c.settles;
        pwm.setBacklight(c.refuses ? refusing : backlight.functions());
        pwm.enable();
        EXPECT_TRUE(pwm.state() == c.state && polls == c.polls);
        ASSERT_EQ(pwm.savedExternal().size(), c.monitors ? 1u : 0u);
        EXPECT_TRUE(!c.monitors || pwm.savedExternal()[0].first->connector == "DP-1");
    }
    pwm.disable();
    spin(50);  // the state it told arrives before the walk below counts them
    states.clear(), displays.displays.clear(), transport.services.clear(), backlight.settlesAt.reset();
    addPanel(1, 0.3f);
    addMonitor("DP-1", 40, 100);
    std::atomic<int> inside{0}, overlaps{0};
    std::atomic<bool> slow{false}, polling{false};
    Backlight b = backlight.functions();
    b.setBrightness = [&, set = b.setBrightness](DisplayID d, float level) {
        overlaps += inside++ != 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // wide enough to be caught inside
        return --inside, set(d, level);
    };
    pwm.setBacklight(b);
    pwm.setSleep([&](std::chrono::microseconds) { polling = true, slow ? std::this_thread::sleep_for(std::chrono::milliseconds(30)) : void(); });
    for (int k = 0; k < 6; ++k) {
        pwm.enableInBackground();
        pwm.disableInBackground();
        if (k % 2)
            pwm.enable();  // direct calls take turns with the background
    }
    pwm.disableInBackground();  // queued after the last direct call, so it runs last
    pwm.waitUntilIdle();
    EXPECT_TRUE(overlaps == 0 && displays.offMain == 0 && backlight.level(1) == 0.3f && transport.monitors["DP-1"].current == 40);
    ASSERT_TRUE(delivered(25));  // nine enables of two states, seven disables of one
    for (size_t i = 0; i + 1 < states.size(); ++i)
        EXPECT_EQ(states[i] == waiting, states[i + 1] == active) << i;
    EXPECT_EQ(states.back(), PWMState::off);
    states.clear();
    slow = true, polling = false;
    backlight.settlesAt = 0.9f;  // all five polls, so the enable is still running below
    pwm.enableInBackground();
    pwm.enableInBackground();
    ASSERT_TRUE(waitFor([&] { return polling.load(); }));
    backlight.settlesAt.reset();
    pwm.disable();  // on the main thread, like quitting
    EXPECT_TRUE(backlight.level(1) == 0.3f && transport.monitors["DP-1"].current == 40);
    pwm.waitUntilIdle();
    spin(50);
    EXPECT_TRUE(pwm.state() == PWMState::off && states.back() == PWMState::off && std::count(states.begin(), states.end(), waiting) == 1);
}
