#include "brightness/PWMSafe.h"
#include "system/EventLog.h"

#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "RecordingDDCTransport.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QUuid>

#include <atomic>
#include <thread>

namespace {

// Counts display queries made off the main thread (the X11 backend is not thread-safe).
class ThreadCheckingDisplays : public FakeDisplayServices {
public:
    std::atomic<int> offMainThread{0};
    std::vector<DisplayID> activeDisplays() override
    {
        check();
        return FakeDisplayServices::activeDisplays();
    }
    bool isBuiltin(DisplayID d) override
    {
        check();
        return FakeDisplayServices::isBuiltin(d);
    }

private:
    void check()
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            ++offMainThread;
    }
};

// Log lines written after construction.
class LogTail {
public:
    LogTail()
        : marker_(QUuid::createUuid().toString())
    {
        EventLog::shared().add(marker_);
    }
    QStringList lines() const
    {
        const QStringList all = EventLog::shared().dump().split(QLatin1Char('\n'));
        QStringList out;
        bool after = false;
        for (const QString& line : all) {
            if (after)
                out << line.mid(11);  // without "[HH:mm:ss] "
            else if (line.endsWith(marker_))
                after = true;
        }
        return out;
    }

private:
    QString marker_;
};

class PWMSafeTest : public ::testing::Test {
protected:
    PWMSafeTest()
        : ddc(&transport)
    {
        pwm.setDisplayServices(&displays);
        pwm.setDDC(&ddc);
        pwm.setSleep([this](std::chrono::microseconds d) {
            std::lock_guard lock(sleepMutex);
            sleeps.push_back(d);
        });
        pwm.onStateChange = [this](PWMState s) {
            states.push_back(s);
            statesOnMain = statesOnMain && QThread::currentThread() == qApp->thread();
        };
    }

    void addPanel(DisplayID id, float level, bool alc = true)
    {
        displays.addDisplay(id, true);
        backlight.panels[id] = {level, alc};
    }
    DDCService addMonitor(const std::string& connector, int current, int max, bool answers = true, bool acks = true)
    {
        transport.monitors[connector] = {current, max, answers, acks};
        return transport.addService(connector);
    }
    bool deliveredCount(size_t n)
    {
        return waitFor([&] { return states.size() >= n; });
    }
    std::vector<std::chrono::microseconds> recordedSleeps()
    {
        std::lock_guard lock(sleepMutex);
        return sleeps;
    }

    LogTail log;
    ThreadCheckingDisplays displays;
    FakeBacklight backlight;
    RecordingDDCTransport transport;
    DDC ddc;
    std::mutex sleepMutex;
    std::vector<std::chrono::microseconds> sleeps;
    std::vector<PWMState> states;
    bool statesOnMain = true;
    PWMSafe pwm;  // last: destroyed first, while the things it uses still exist
};

}  // namespace

TEST_F(PWMSafeTest, NothingToPinIsUnsupportedAndSavesNothing)
{
    transport.isAvailable = false;
    EXPECT_FALSE(pwm.available());
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::unsupported);
    EXPECT_TRUE(pwm.savedBuiltin().empty());
    EXPECT_TRUE(pwm.savedALC().empty());
    EXPECT_TRUE(pwm.savedExternal().empty());
    ASSERT_TRUE(deliveredCount(2));
    EXPECT_EQ(states, (std::vector<PWMState>{PWMState::waiting, PWMState::unsupported}));
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("pwm enable \u2192 unsupported")});

    pwm.disable();
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_EQ(log.lines().last(), QStringLiteral("pwm disable"));
    EXPECT_TRUE(transport.events().empty());
}

TEST_F(PWMSafeTest, BuiltinDisplayWithoutBacklightIsUnsupported)
{
    displays.addDisplay(1, true);
    EXPECT_FALSE(pwm.available());
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::unsupported);
    EXPECT_TRUE(recordedSleeps().empty());
}

TEST_F(PWMSafeTest, PinsThePanelAndRestoresLevelAndAmbientLight)
{
    addPanel(1, 0.37f, true);
    displays.addDisplay(2);  // an external display without DDC service: left alone
    pwm.setBacklight(backlight.functions());
    EXPECT_TRUE(pwm.available());
    EXPECT_EQ(pwm.builtinHardwareBrightness(), 0.37f);

    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::active);
    EXPECT_FLOAT_EQ(backlight.level(1), 1.0f);
    EXPECT_FALSE(backlight.alc(1));
    EXPECT_EQ(recordedSleeps().size(), 1u);  // held at the first poll
    EXPECT_EQ(recordedSleeps().front(), std::chrono::microseconds(120000));
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("pwm enable \u2192 active")});

    pwm.disable();
    EXPECT_FLOAT_EQ(backlight.level(1), 0.37f);
    EXPECT_TRUE(backlight.alc(1));
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_TRUE(pwm.savedBuiltin().empty());
    ASSERT_TRUE(deliveredCount(3));
    EXPECT_EQ(states, (std::vector<PWMState>{PWMState::waiting, PWMState::active, PWMState::off}));
}

TEST_F(PWMSafeTest, EnablingTwiceRestoresTheLevelsFromBeforeTheFirst)
{
    addPanel(1, 0.42f, false);
    DDCService a = addMonitor("DP-1", 35, 100);
    DDCService b = addMonitor("HDMI-A-1", 20, 80, false);  // cannot be read
    displays.addDisplay(2);
    pwm.setBacklight(backlight.functions());

    pwm.enable();
    EXPECT_EQ(transport.monitors["DP-1"].current, 100);
    pwm.enable();
    EXPECT_FLOAT_EQ(backlight.level(1), 1.0f);
    ASSERT_EQ(pwm.savedExternal().size(), 2u);
    EXPECT_EQ(pwm.savedExternal()[0].second, 35);
    EXPECT_EQ(pwm.savedExternal()[1].second, 100);  // unreadable: pinned and kept at 100

    // The second enable left the monitors alone: no more Set messages.
    int sets = 0;
    for (const auto& e : transport.events())
        sets += e.kind == RecordingDDCTransport::Event::write && e.bytes.size() == 6;
    EXPECT_EQ(sets, 4);  // two monitors, each message twice

    transport.clearEvents();
    pwm.disable();
    EXPECT_FLOAT_EQ(backlight.level(1), 0.42f);
    EXPECT_FALSE(backlight.alc(1));
    EXPECT_EQ(transport.monitors["DP-1"].current, 35);
    // The unreadable monitor is set back to 100, in discovery order after the first.
    std::vector<std::pair<std::string, int>> restored;
    for (const auto& e : transport.events()) {
        if (e.kind == RecordingDDCTransport::Event::write)
            restored.emplace_back(e.connector, e.bytes[3] * 256 + e.bytes[4]);
    }
    EXPECT_EQ(restored, (std::vector<std::pair<std::string, int>>{{"DP-1", 35}, {"DP-1", 35},
                            {"HDMI-A-1", 100}, {"HDMI-A-1", 100}}));
    EXPECT_TRUE(pwm.savedExternal().empty());
}

TEST_F(PWMSafeTest, PanelThatNeverHoldsIsPolledFiveTimesAndKept)
{
    addPanel(1, 0.5f);
    backlight.settlesAt = 0.9f;
    pwm.setBacklight(backlight.functions());
    pwm.enable();
    EXPECT_EQ(recordedSleeps(), std::vector<std::chrono::microseconds>(5, std::chrono::microseconds(120000)));
    EXPECT_EQ(pwm.state(), PWMState::active);
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("pwm: built-in did not hold 100%, keeping setting"),
                               QStringLiteral("pwm enable \u2192 active")}));
}

TEST_F(PWMSafeTest, ExternalOnlyIsActiveAndAnUnreadableMonitorIsRestoredTo100)
{
    displays.addDisplay(2);
    addMonitor("DP-1", 60, 100, false);
    EXPECT_TRUE(pwm.available());
    EXPECT_FALSE(pwm.builtinHardwareBrightness().has_value());
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::active);
    ASSERT_EQ(pwm.savedExternal().size(), 1u);
    EXPECT_EQ(pwm.savedExternal()[0].second, 100);
    pwm.enable();  // the monitor is still pinned
    EXPECT_EQ(pwm.state(), PWMState::active);
    transport.clearEvents();
    pwm.disable();
    const auto events = transport.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[1].bytes, (std::vector<std::uint8_t>{0x84, 0x03, 0x10, 0x00, 0x64, 0xCC}));
}

// A write nobody acknowledged pinned nothing: the display still flickers.
TEST_F(PWMSafeTest, OnlyAcknowledgedWritesCountAsPinned)
{
    struct Case {
        const char* name;
        bool panelRefuses;   // a built-in panel whose backlight takes no write
        bool monitorAcks;    // a second monitor beside one with DDC/CI off
        PWMState state;
        QStringList lines;
    };
    const Case cases[] = {
        {"ddc off", false, false, PWMState::unsupported,
            {QStringLiteral("pwm: HDMI-A-1 did not accept DDC/CI"), QStringLiteral("pwm enable \u2192 unsupported")}},
        {"ddc off beside a working one", false, true, PWMState::active,
            {QStringLiteral("pwm: HDMI-A-1 did not accept DDC/CI"), QStringLiteral("pwm enable \u2192 active")}},
        {"refusing backlight", true, false, PWMState::unsupported,
            {QStringLiteral("pwm: built-in did not hold 100%, keeping setting"),
                QStringLiteral("pwm: HDMI-A-1 did not accept DDC/CI"), QStringLiteral("pwm enable \u2192 unsupported")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PWMSafe fresh;
        fresh.setDisplayServices(&displays);
        fresh.setDDC(&ddc);
        fresh.setSleep([](std::chrono::microseconds) {});
        displays.displays.clear();
        transport.services.clear();
        if (c.panelRefuses) {
            addPanel(1, 0.3f);
            Backlight b = backlight.functions();
            b.setBrightness = [](DisplayID, float) { return -1; };
            fresh.setBacklight(b);
        }
        addMonitor("HDMI-A-1", 20, 100, false, false);
        if (c.monitorAcks)
            addMonitor("DP-1", 40, 100);
        LogTail tail;
        fresh.enable();
        EXPECT_EQ(fresh.state(), c.state);
        EXPECT_EQ(tail.lines(), c.lines);
        ASSERT_EQ(fresh.savedExternal().size(), c.monitorAcks ? 1u : 0u);
        if (c.monitorAcks) {
            EXPECT_EQ(fresh.savedExternal()[0].first->connector, "DP-1");
        }
        fresh.disable();
    }
}

TEST_F(PWMSafeTest, MonitorsAtTheirOwnMaximum)
{
    addMonitor("DP-1", 10, 255);
    pwm.enable();
    EXPECT_EQ(transport.monitors["DP-1"].current, 255);
    pwm.disable();
    EXPECT_EQ(transport.monitors["DP-1"].current, 10);
}

TEST_F(PWMSafeTest, BuiltinBrightnessNeedsAReadableBuiltinDisplay)
{
    transport.isAvailable = false;
    displays.addDisplay(2);
    pwm.setBacklight(backlight.functions());
    EXPECT_FALSE(pwm.builtinHardwareBrightness().has_value());  // no built-in display
    displays.addDisplay(1, true);
    EXPECT_FALSE(pwm.builtinHardwareBrightness().has_value());  // backlight cannot read it
    backlight.panels[1] = {0.25f, false};
    EXPECT_EQ(pwm.builtinHardwareBrightness(), 0.25f);
    pwm.setBacklight({});
    EXPECT_FALSE(pwm.builtinHardwareBrightness().has_value());
    EXPECT_FALSE(pwm.available());
}

TEST_F(PWMSafeTest, BackgroundRequestsReportOnTheMainThreadInOrder)
{
    addPanel(1, 0.3f);
    pwm.setBacklight(backlight.functions());
    pwm.enableInBackground();
    pwm.disableInBackground();
    ASSERT_TRUE(deliveredCount(3));
    pwm.waitUntilIdle();
    EXPECT_EQ(states, (std::vector<PWMState>{PWMState::waiting, PWMState::active, PWMState::off}));
    EXPECT_TRUE(statesOnMain);
    EXPECT_FLOAT_EQ(backlight.level(1), 0.3f);
    EXPECT_EQ(displays.offMainThread.load(), 0);
}

TEST_F(PWMSafeTest, OverlappingRequestsNeverInterleave)
{
    addPanel(1, 0.3f);
    addMonitor("DP-1", 40, 100);
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    Backlight b = backlight.functions();
    // Each call takes a moment, so that interleaved operations would be caught inside one.
    auto slowSet = b.setBrightness;
    b.setBrightness = [&, slowSet](DisplayID d, float level) {
        if (inside.fetch_add(1) != 0)
            ++overlaps;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const std::int32_t r = slowSet(d, level);
        inside.fetch_sub(1);
        return r;
    };
    pwm.setBacklight(b);
    pwm.setSleep([](std::chrono::microseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });

    // Background requests, and direct calls that take turns with them.
    for (int k = 0; k < 6; ++k) {
        pwm.enableInBackground();
        pwm.disableInBackground();
        if (k % 2)
            pwm.enable();
    }
    // Queued after the last direct call has returned, so it runs last whatever the timing.
    pwm.disableInBackground();
    pwm.waitUntilIdle();
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_FLOAT_EQ(backlight.level(1), 0.3f);
    EXPECT_EQ(transport.monitors["DP-1"].current, 40);
    EXPECT_EQ(displays.offMainThread.load(), 0);
}

TEST_F(PWMSafeTest, DisableAtQuitWaitsForARunningEnable)
{
    addPanel(1, 0.2f);
    addMonitor("DP-1", 15, 100);
    pwm.setBacklight(backlight.functions());
    std::atomic<bool> polling{false};
    pwm.setSleep([&](std::chrono::microseconds) {
        polling = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    backlight.settlesAt = 0.9f;  // all five polls, so enable is still running below
    pwm.enableInBackground();
    pwm.enableInBackground();  // queued behind the first: dropped by disable
    ASSERT_TRUE(waitFor([&] { return polling.load(); }));
    backlight.settlesAt.reset();

    // On the main thread, like quitting.
    pwm.disable();
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_FLOAT_EQ(backlight.level(1), 0.2f);
    EXPECT_EQ(transport.monitors["DP-1"].current, 15);
    pwm.waitUntilIdle();
    spin(50);
    EXPECT_EQ(pwm.state(), PWMState::off);  // the queued enable never ran
    EXPECT_EQ(states.back(), PWMState::off);
    EXPECT_EQ(std::count(states.begin(), states.end(), PWMState::waiting), 1);
    EXPECT_EQ(displays.offMainThread.load(), 0);
}

TEST_F(PWMSafeTest, VanishedPanelAndMonitorBetweenEnableAndDisable)
{
    addPanel(1, 0.6f);
    DDCService s = addMonitor("DP-1", 45, 100);
    pwm.setBacklight(backlight.functions());
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::active);

    displays.removeDisplay(1);
    backlight.panels.clear();
    transport.monitors.clear();
    transport.services.clear();
    pwm.disable();
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_TRUE(pwm.savedBuiltin().empty());
    EXPECT_TRUE(pwm.savedExternal().empty());
}
