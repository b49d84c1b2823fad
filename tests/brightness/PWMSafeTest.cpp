#include "brightness/PWMSafe.h"
#include "system/EventLog.h"

#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "RecordingDDCTransport.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QThread>
#include <QUuid>

#include <atomic>
#include <thread>

namespace {

using std::chrono::microseconds;
using Sets = std::vector<std::pair<std::string, int>>;
const QString active = QStringLiteral("pwm enable \u2192 active"), unsupported = QStringLiteral("pwm enable \u2192 unsupported");
const QString notHeld = QStringLiteral("pwm: built-in did not hold 100%, keeping setting");
const QString ddcOff = QStringLiteral("pwm: HDMI-A-1 did not accept DDC/CI");

// Counts display queries made off the main thread (the X11 backend is not thread-safe).
class ThreadCheckingDisplays : public FakeDisplayServices {
public:
    std::atomic<int> offMainThread{0};
    std::vector<DisplayID> activeDisplays() override { return check(), FakeDisplayServices::activeDisplays(); }
    bool isBuiltin(DisplayID d) override { return check(), FakeDisplayServices::isBuiltin(d); }

private:
    void check() { offMainThread += QThread::currentThread() != qApp->thread(); }
};

class PWMSafeTest : public ::testing::Test {
protected:
    PWMSafeTest()
    {
        EventLog::shared().add(marker);
        use(pwm);
        pwm.setSleep([this](microseconds d) {
            std::lock_guard lock(mutex);
            sleeps.push_back(d);
        });
        pwm.onStateChange = [this](PWMState s) {
            states.push_back(s);
            statesOnMain = statesOnMain && QThread::currentThread() == qApp->thread();
        };
    }
    void use(PWMSafe& p)
    {
        p.setDisplayServices(&displays);
        p.setDDC(&ddc);
    }
    void addPanel(DisplayID id, float level, bool alc = true)
    {
        displays.addDisplay(id, true);
        backlight.panels[id] = {level, alc};
    }
    void addMonitor(const std::string& connector, int current, int max, bool answers = true, bool acks = true)
    {
        transport.monitors[connector] = {current, max, answers, acks};
        transport.addService(connector);
    }
    // The log lines written during this test, without their time stamps.
    QStringList logged() const
    {
        const QString dump = EventLog::shared().dump();
        QStringList out;
        for (const QString& line : dump.mid(dump.lastIndexOf(marker) + marker.size()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            out.append(line.mid(11));  // "[HH:mm:ss] "
        return out;
    }
    // The Set messages sent, as monitor and value.
    Sets sets() const
    {
        Sets out;
        for (const auto& e : transport.events()) {
            if (e.kind == RecordingDDCTransport::Event::write && e.bytes.size() == 6)
                out.emplace_back(e.connector, e.bytes[3] * 256 + e.bytes[4]);
        }
        return out;
    }
    std::vector<microseconds> recordedSleeps()
    {
        std::lock_guard lock(mutex);
        return sleeps;
    }
    bool delivered(size_t n) { return waitFor([&] { return states.size() >= n; }); }

    const QString marker = QUuid::createUuid().toString();
    ThreadCheckingDisplays displays;
    FakeBacklight backlight;
    RecordingDDCTransport transport;
    DDC ddc{&transport};
    std::mutex mutex;
    std::vector<microseconds> sleeps;
    std::vector<PWMState> states;
    bool statesOnMain = true;
    PWMSafe pwm;  // last: destroyed first, while the things it uses still exist
};

}  // namespace

TEST_F(PWMSafeTest, NothingToPinIsUnsupportedAndTouchesNothing)
{
    displays.addDisplay(1, true);  // built in, but no backlight
    transport.isAvailable = false;
    EXPECT_FALSE(pwm.available());
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::unsupported);
    EXPECT_TRUE(pwm.savedBuiltin().empty() && pwm.savedALC().empty() && pwm.savedExternal().empty());
    EXPECT_TRUE(recordedSleeps().empty());
    pwm.disable();
    ASSERT_TRUE(delivered(3));
    EXPECT_EQ(states, (std::vector<PWMState>{PWMState::waiting, PWMState::unsupported, PWMState::off}));
    EXPECT_EQ(logged(), (QStringList{unsupported, QStringLiteral("pwm disable")}));
    EXPECT_TRUE(transport.events().empty());
}

TEST_F(PWMSafeTest, PinsThePanelAndPutsItsLevelAndAmbientLightBack)
{
    addPanel(7, 0.37f, true);
    displays.addDisplay(2);  // external, without DDC/CI: left alone
    pwm.setBacklight(backlight.functions());
    EXPECT_TRUE(pwm.available());
    EXPECT_EQ(pwm.builtinHardwareBrightness(), 0.37f);
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::active);
    EXPECT_EQ(backlight.level(7), 1.0f);
    EXPECT_FALSE(backlight.alc(7));
    EXPECT_EQ(recordedSleeps(), std::vector<microseconds>{microseconds(120000)});  // held at the first poll
    pwm.disable();
    EXPECT_EQ(backlight.level(7), 0.37f);
    EXPECT_TRUE(backlight.alc(7));
    EXPECT_TRUE(pwm.savedBuiltin().empty() && pwm.savedALC().empty());
    ASSERT_TRUE(delivered(3));
    EXPECT_EQ(states, (std::vector<PWMState>{PWMState::waiting, PWMState::active, PWMState::off}));
    EXPECT_EQ(logged(), (QStringList{active, QStringLiteral("pwm disable")}));
}

TEST_F(PWMSafeTest, EnablingTwiceRestoresTheLevelsFromBeforeTheFirst)
{
    addPanel(1, 0.42f, false);
    addMonitor("DP-1", 35, 255);
    addMonitor("HDMI-A-1", 20, 80, false);  // unreadable: pinned at 100, and 100 is what it gets back
    pwm.setBacklight(backlight.functions());
    pwm.enable();
    pwm.enable();  // the monitors are left as they are
    EXPECT_EQ(backlight.level(1), 1.0f);
    EXPECT_EQ(sets(), (Sets{{"DP-1", 255}, {"DP-1", 255}, {"HDMI-A-1", 100}, {"HDMI-A-1", 100}}));
    transport.clearEvents();
    pwm.disable();
    EXPECT_EQ(backlight.level(1), 0.42f);
    EXPECT_FALSE(backlight.alc(1));
    EXPECT_EQ(sets(), (Sets{{"DP-1", 35}, {"DP-1", 35}, {"HDMI-A-1", 100}, {"HDMI-A-1", 100}}));
    EXPECT_TRUE(pwm.savedExternal().empty());
}

TEST_F(PWMSafeTest, APanelThatNeverHoldsIsPolledFiveTimesAndKept)
{
    addPanel(1, 0.5f);
    backlight.settlesAt = 0.9f;
    pwm.setBacklight(backlight.functions());
    pwm.enable();
    EXPECT_EQ(recordedSleeps(), std::vector<microseconds>(5, microseconds(120000)));
    EXPECT_EQ(pwm.state(), PWMState::active);
    EXPECT_EQ(logged(), (QStringList{notHeld, active}));
}

// A write nobody acknowledged pinned nothing: the display still flickers.
TEST_F(PWMSafeTest, OnlyAcknowledgedWritesCountAsPinned)
{
    const struct { bool panelRefuses, secondMonitor; PWMState state; QStringList lines; } cases[] = {
        {false, false, PWMState::unsupported, {ddcOff, unsupported}},
        {false, true, PWMState::active, {ddcOff, active}},
        {true, false, PWMState::unsupported, {notHeld, ddcOff, unsupported}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.panelRefuses << c.secondMonitor);
        PWMSafe fresh;
        use(fresh);
        fresh.setSleep([](microseconds) {});
        displays.displays.clear();
        transport.services.clear();
        if (c.panelRefuses) {
            addPanel(1, 0.3f);
            Backlight b = backlight.functions();
            b.setBrightness = [](DisplayID, float) { return -1; };
            fresh.setBacklight(b);
        }
        addMonitor("HDMI-A-1", 20, 100, false, false);  // DDC/CI off in its menu
        if (c.secondMonitor)
            addMonitor("DP-1", 40, 100);
        EventLog::shared().add(marker);
        fresh.enable();
        EXPECT_EQ(fresh.state(), c.state);
        EXPECT_EQ(logged(), c.lines);
        ASSERT_EQ(fresh.savedExternal().size(), c.secondMonitor ? 1u : 0u);
        EXPECT_TRUE(!c.secondMonitor || fresh.savedExternal()[0].first->connector == "DP-1");
    }
}

TEST_F(PWMSafeTest, AvailableWithAMonitorOnDDCOrAReadableBuiltinPanel)
{
    displays.addDisplay(2);
    addMonitor("DP-1", 60, 100);
    EXPECT_TRUE(pwm.available());
    transport.isAvailable = false;
    EXPECT_FALSE(pwm.available());
    pwm.setBacklight(backlight.functions());
    EXPECT_FALSE(pwm.builtinHardwareBrightness());  // no built-in display
    displays.addDisplay(1, true);
    EXPECT_FALSE(pwm.builtinHardwareBrightness());  // the backlight cannot read it
    backlight.panels[1] = {-1.0f, false};
    EXPECT_FALSE(pwm.builtinHardwareBrightness());  // nor a level below 0
    backlight.panels[1] = {0.25f, false};
    EXPECT_EQ(pwm.builtinHardwareBrightness(), 0.25f);
    EXPECT_TRUE(pwm.available());
    pwm.setBacklight({});
    EXPECT_FALSE(pwm.builtinHardwareBrightness() || pwm.available());
}

TEST_F(PWMSafeTest, BackgroundRequestsRunInOrderAndReportOnTheMainThread)
{
    addPanel(1, 0.3f);
    pwm.setBacklight(backlight.functions());
    pwm.enableInBackground();
    pwm.disableInBackground();
    ASSERT_TRUE(delivered(3));
    pwm.waitUntilIdle();
    EXPECT_EQ(states, (std::vector<PWMState>{PWMState::waiting, PWMState::active, PWMState::off}));
    EXPECT_TRUE(statesOnMain);
    EXPECT_EQ(backlight.level(1), 0.3f);
    EXPECT_EQ(displays.offMainThread.load(), 0);
}

TEST_F(PWMSafeTest, OverlappingRequestsNeverInterleave)
{
    addPanel(1, 0.3f);
    addMonitor("DP-1", 40, 100);
    std::atomic<int> inside{0}, overlaps{0};
    Backlight b = backlight.functions();
    // Each call takes a moment, so that interleaved operations would be caught inside one.
    b.setBrightness = [&, set = b.setBrightness](DisplayID d, float level) {
        overlaps += inside.fetch_add(1) != 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const std::int32_t r = set(d, level);
        --inside;
        return r;
    };
    pwm.setBacklight(b);
    pwm.setSleep([](microseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
    for (int k = 0; k < 6; ++k) {
        pwm.enableInBackground();
        pwm.disableInBackground();
        if (k % 2)
            pwm.enable();  // direct calls take turns with the background
    }
    pwm.disableInBackground();  // queued after the last direct call, so it runs last
    pwm.waitUntilIdle();
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(backlight.level(1), 0.3f);
    EXPECT_EQ(transport.monitors["DP-1"].current, 40);
    EXPECT_EQ(displays.offMainThread.load(), 0);
}

TEST_F(PWMSafeTest, DisableAtQuitWaitsForARunningEnableAndDropsQueuedOnes)
{
    addPanel(1, 0.2f);
    addMonitor("DP-1", 15, 100);
    pwm.setBacklight(backlight.functions());
    std::atomic<bool> polling{false};
    pwm.setSleep([&](microseconds) {
        polling = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    backlight.settlesAt = 0.9f;  // all five polls, so the enable is still running below
    pwm.enableInBackground();
    pwm.enableInBackground();
    ASSERT_TRUE(waitFor([&] { return polling.load(); }));
    backlight.settlesAt.reset();
    pwm.disable();  // on the main thread, like quitting
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_EQ(backlight.level(1), 0.2f);
    EXPECT_EQ(transport.monitors["DP-1"].current, 15);
    pwm.waitUntilIdle();
    spin(50);
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_EQ(states.back(), PWMState::off);
    EXPECT_EQ(std::count(states.begin(), states.end(), PWMState::waiting), 1);
}
