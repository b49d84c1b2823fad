#include "schedule/Scheduler.h"

#include "engine/VeskEngine.h"
#include "engine/WarmthPresets.h"
#include "platform/SettingsStore.h"
#include "schedule/AppSettings.h"
#include "system/EventLog.h"

#include "FakeDisplayServices.h"
#include "ScopedTimeZone.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QTimer>

#include <limits>
#include <vector>

namespace {

const double day = VeskEngine::warmthForKelvin(4000);
const double evening = VeskEngine::warmthForKelvin(2700);
constexpr double night = 100.0;

class SchedulerTest : public ::testing::Test {
protected:
    SchedulerTest()
        : tz("Europe/Madrid")
    {
        displays.addDisplay(1);
        engine.setDisplayServices(&displays);
        scheduler.now = [this] {
            ++clockReads;
            return clockNow;
        };
        // Lines of this test are the ones after the marker.
        marker = QStringLiteral("test marker %1").arg(++markers);
        EventLog::shared().add(marker);
        at(12, 0);
    }

    void at(int h, int m, QDate date = QDate(2025, 6, 21))
    {
        clockNow = QDateTime(date, QTime(h, m), Qt::LocalTime);
    }

    // The target that a fresh start of the schedule hands to the engine at h:m.
    double targetAt(int h, int m, QDate date = QDate(2025, 6, 21))
    {
        at(h, m, date);
        scheduler.refresh();
        return scheduler.lastWarmth();
    }

    // The messages logged during this test, without their time stamps.
    QStringList logged() const
    {
        const QStringList lines = EventLog::shared().dump().split(QLatin1Char('\n'));
        QStringList result;
        bool after = false;
        for (const QString& line : lines) {
            const QString message = line.mid(11);  // "[HH:mm:ss] "
            if (message == marker) {
                after = true;
                result.clear();
                continue;
            }
            if (after)
                result.append(message);
        }
        return result;
    }

    void useMadrid()
    {
        AppSettings::setLatitude(40.4168);
        AppSettings::setLongitude(-3.7038);
        AppSettings::setUseSolar(true);
    }

    ScopedTimeZone tz;
    FreshSettings settings;
    FakeDisplayServices displays;
    VeskEngine engine;
    Scheduler scheduler{engine};
    QDateTime clockNow;
    int clockReads = 0;
    QString marker;
    static inline int markers = 0;
};

}  // namespace

TEST_F(SchedulerTest, TheTargetsOfThePeriods)
{
    EXPECT_NEAR(WarmthPresets::day(), 40.909, 0.001);
    EXPECT_NEAR(WarmthPresets::evening(), 62.182, 0.001);
    EXPECT_EQ(WarmthPresets::night, night);
}

TEST_F(SchedulerTest, OffByDefaultAndARefreshTouchesNothing)
{
    scheduler.refresh();
    EXPECT_FALSE(scheduler.isRunning());
    EXPECT_EQ(scheduler.lastWarmth(), -1.0);
    EXPECT_FALSE(engine.enabled());
    EXPECT_EQ(displays.writes, 0);
    EXPECT_EQ(clockReads, 0);
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(SchedulerTest, DefaultHoursAtTheirBoundaries)
{
    AppSettings::setAutoSchedule(true);
    EXPECT_EQ(targetAt(5, 59), night);
    EXPECT_EQ(targetAt(6, 0), day);
    EXPECT_EQ(targetAt(17, 59), day);
    EXPECT_EQ(targetAt(18, 0), evening);
    EXPECT_EQ(targetAt(21, 59), evening);
    EXPECT_EQ(targetAt(22, 0), night);
    EXPECT_EQ(targetAt(0, 0), night);
    EXPECT_EQ(targetAt(23, 59), night);
}

TEST_F(SchedulerTest, DefaultHoursOverAWholeDay)
{
    AppSettings::setAutoSchedule(true);
    for (int minute = 0; minute < 24 * 60; ++minute) {
        const double expected = minute < 6 * 60 ? night : minute < 18 * 60 ? day : minute < 22 * 60 ? evening : night;
        ASSERT_EQ(targetAt(minute / 60, minute % 60), expected) << "at minute " << minute;
    }
}

TEST_F(SchedulerTest, HoursThatWrapPastMidnight)
{
    AppSettings::setAutoSchedule(true);
    AppSettings::setDayStart(8);
    AppSettings::setEveningStart(20);
    AppSettings::setNightStart(1);
    EXPECT_EQ(targetAt(23, 0), evening);
    EXPECT_EQ(targetAt(0, 30), evening);
    EXPECT_EQ(targetAt(1, 0), night);
    EXPECT_EQ(targetAt(7, 59), night);
    EXPECT_EQ(targetAt(8, 0), day);
    EXPECT_EQ(targetAt(19, 59), day);
    EXPECT_EQ(targetAt(20, 0), evening);
}

TEST_F(SchedulerTest, EqualDayAndEveningStartsLeaveNoDay)
{
    AppSettings::setAutoSchedule(true);
    AppSettings::setDayStart(12);
    AppSettings::setEveningStart(12);
    AppSettings::setNightStart(22);
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(targetAt(h, 30), h >= 12 && h < 22 ? evening : night) << "at hour " << h;
}

TEST_F(SchedulerTest, SolarPeriodsToTheMinute)
{
    // Madrid on 21 June: sunrise 06:44, sunset 21:48.
    AppSettings::setAutoSchedule(true);
    useMadrid();
    EXPECT_EQ(targetAt(6, 0), night);  // the fixed hours would say day
    EXPECT_EQ(targetAt(6, 43), night);
    EXPECT_EQ(targetAt(6, 44), day);
    EXPECT_EQ(targetAt(18, 30), day);  // the fixed hours would say evening
    EXPECT_EQ(targetAt(19, 47), day);
    EXPECT_EQ(targetAt(19, 48), evening);
    EXPECT_EQ(targetAt(21, 47), evening);
    EXPECT_EQ(targetAt(21, 48), night);
    EXPECT_EQ(targetAt(23, 59), night);
    EXPECT_EQ(targetAt(0, 0), night);
}

TEST_F(SchedulerTest, SolarWholeDayInWinter)
{
    // Madrid on 21 December: sunrise 08:34, sunset 17:51.
    AppSettings::setAutoSchedule(true);
    useMadrid();
    const QDate december(2025, 12, 21);
    for (int minute = 0; minute < 24 * 60; ++minute) {
        const int rise = 8 * 60 + 34, set = 17 * 60 + 51;
        const double expected = minute >= rise && minute < set - 120 ? day : minute >= set - 120 && minute < set ? evening : night;
        ASSERT_EQ(targetAt(minute / 60, minute % 60, december), expected) << "at minute " << minute;
    }
}

TEST_F(SchedulerTest, SunsetAfterMidnightKeepsTheEveningTogether)
{
    // Reykjavík on 21 June: sunrise 02:54, sunset 00:03 after midnight. Taken literally
    // ("sunset" at 00:03 of the same day) every minute after 00:03 would be night.
    ScopedTimeZone iceland("Atlantic/Reykjavik");
    AppSettings::setAutoSchedule(true);
    AppSettings::setLatitude(64.1466);
    AppSettings::setLongitude(-21.9426);
    AppSettings::setUseSolar(true);
    EXPECT_EQ(targetAt(2, 53), night);
    EXPECT_EQ(targetAt(2, 54), day);
    EXPECT_EQ(targetAt(12, 0), day);
    EXPECT_EQ(targetAt(22, 2), day);
    EXPECT_EQ(targetAt(22, 3), evening);
    EXPECT_EQ(targetAt(23, 59), evening);
    EXPECT_EQ(targetAt(0, 2), evening);
    EXPECT_EQ(targetAt(0, 3), night);
    EXPECT_EQ(targetAt(1, 30), night);
}

TEST_F(SchedulerTest, SolarFallsBackToTheFixedHours)
{
    AppSettings::setAutoSchedule(true);
    AppSettings::setUseSolar(true);
    // No location stored.
    EXPECT_EQ(targetAt(6, 0), day);
    EXPECT_EQ(targetAt(18, 0), evening);
    // A place with the midnight sun on that day.
    AppSettings::setLatitude(69.65);
    AppSettings::setLongitude(18.96);
    EXPECT_EQ(targetAt(6, 0), day);
    EXPECT_EQ(targetAt(18, 0), evening);
    EXPECT_EQ(targetAt(23, 0), night);
    // The same place in spring follows the sun again: sunset at 18:00, evening from 16:00.
    EXPECT_EQ(targetAt(16, 30, QDate(2025, 3, 20)), evening);
}

TEST_F(SchedulerTest, ABrokenStoredPositionCountsAsNone)
{
    AppSettings::setAutoSchedule(true);
    AppSettings::setUseSolar(true);
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        AppSettings::setLatitude(bad);
        AppSettings::setLongitude(-3.7038);
        EXPECT_EQ(targetAt(6, 0), day);
        AppSettings::setLatitude(40.4168);
        AppSettings::setLongitude(-bad);
        EXPECT_EQ(targetAt(6, 0), day);
    }
}

TEST_F(SchedulerTest, HoursOutOfRangeFromAnotherWriterNeitherCrashNorHang)
{
    AppSettings::setAutoSchedule(true);
    SettingsStore& store = SettingsStore::shared();
    auto storeHours = [&store](qint64 d, qint64 e, qint64 n) {
        store.setValue(QStringLiteral("vesk.dayStart"), d);
        store.setValue(QStringLiteral("vesk.eveningStart"), e);
        store.setValue(QStringLiteral("vesk.nightStart"), n);
    };
    constexpr int maxInt = std::numeric_limits<int>::max();
    constexpr int minInt = std::numeric_limits<int>::min();

    storeHours(25, 3, 30);  // day wraps from 25 to 3: hours 0-2; evening 3 up to 30: the rest
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(targetAt(h, 0), h < 3 ? day : evening) << "at hour " << h;

    storeHours(30, -5, maxInt);  // no day; evening from -5 up to the largest int
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(targetAt(h, 0), evening) << "at hour " << h;

    storeHours(minInt, minInt, minInt);  // empty periods: night all day
    for (int h = 0; h < 24; ++h)
        EXPECT_EQ(targetAt(h, 0), night) << "at hour " << h;

    // Beyond an int: read as the defaults 6 and 18; the evening then wraps from 18 to 7.
    storeHours(qint64(1) << 40, -(qint64(1) << 40), 7);
    EXPECT_EQ(targetAt(5, 0), evening);
    EXPECT_EQ(targetAt(6, 0), day);
    EXPECT_EQ(targetAt(17, 0), day);
    EXPECT_EQ(targetAt(18, 0), evening);
}

TEST_F(SchedulerTest, TurningTheScheduleOnSwitchesTheFilterOnAndLogsOnce)
{
    AppSettings::setAutoSchedule(true);
    at(18, 30);
    scheduler.refresh();
    EXPECT_TRUE(engine.enabled());
    EXPECT_TRUE(scheduler.isRunning());
    EXPECT_EQ(scheduler.tickInterval(), 60 * 1000);
    EXPECT_EQ(logged(), QStringList{QStringLiteral("auto-schedule \u2192 warmth 62")});
    // The engine glides there and writes the tables.
    ASSERT_TRUE(waitFor([this] { return !engine.isAnimating(); }, 3000));
    EXPECT_DOUBLE_EQ(engine.warmth(), evening);
    EXPECT_GT(displays.writes, 0);
    EXPECT_EQ(displays.tables.count(1), 1u);
}

TEST_F(SchedulerTest, EachPeriodLogsItsTruncatedTarget)
{
    AppSettings::setAutoSchedule(true);
    targetAt(12, 0);
    targetAt(19, 0);
    targetAt(23, 0);
    EXPECT_EQ(logged(), (QStringList{QStringLiteral("auto-schedule \u2192 warmth 40"),
                            QStringLiteral("auto-schedule \u2192 warmth 62"),
                            QStringLiteral("auto-schedule \u2192 warmth 100")}));
}

TEST_F(SchedulerTest, TicksWithinAPeriodLeaveTheEngineAlone)
{
    AppSettings::setAutoSchedule(true);
    scheduler.setTickInterval(5);
    at(12, 0);
    scheduler.refresh();
    ASSERT_TRUE(waitFor([this] { return !engine.isAnimating(); }, 3000));
    // The user moves the slider by hand within the period.
    engine.setWarmth(10.0);
    const int writes = displays.writes;
    const int reads = clockReads;
    at(17, 59);
    spin(150);
    EXPECT_GE(clockReads - reads, 3);  // the timer did tick
    EXPECT_DOUBLE_EQ(engine.warmth(), 10.0);
    EXPECT_FALSE(engine.isAnimating());
    EXPECT_EQ(displays.writes, writes);
    EXPECT_EQ(logged().size(), 1);
}

TEST_F(SchedulerTest, ATickIntoTheNextPeriodMovesTheWarmth)
{
    AppSettings::setAutoSchedule(true);
    scheduler.setTickInterval(5);
    at(5, 59);
    scheduler.refresh();
    EXPECT_EQ(scheduler.lastWarmth(), night);
    at(6, 0);
    ASSERT_TRUE(waitFor([this] { return scheduler.lastWarmth() == day; }, 3000));
    ASSERT_TRUE(waitFor([this] { return !engine.isAnimating(); }, 3000));
    EXPECT_DOUBLE_EQ(engine.warmth(), day);
    at(18, 0);
    ASSERT_TRUE(waitFor([this] { return scheduler.lastWarmth() == evening; }, 3000));
    EXPECT_EQ(logged(), (QStringList{QStringLiteral("auto-schedule \u2192 warmth 100"),
                            QStringLiteral("auto-schedule \u2192 warmth 40"),
                            QStringLiteral("auto-schedule \u2192 warmth 62")}));
}

TEST_F(SchedulerTest, ATickThatFindsTheScheduleOffDoesNothing)
{
    AppSettings::setAutoSchedule(true);
    scheduler.setTickInterval(5);
    at(12, 0);
    scheduler.refresh();
    // Written without a refresh, as if by another writer: the next tick stops short.
    SettingsStore::shared().setValue(QStringLiteral("vesk.autoSchedule"), false);
    at(23, 0);
    spin(100);
    EXPECT_EQ(scheduler.lastWarmth(), day);
    EXPECT_EQ(logged().size(), 1);
}

TEST_F(SchedulerTest, RefreshReassertsThePeriodAfterTheUserSwitchedOff)
{
    AppSettings::setAutoSchedule(true);
    at(12, 0);
    scheduler.refresh();
    engine.setEnabled(false);
    engine.setWarmth(5.0);
    scheduler.refresh();  // as after waking from sleep
    EXPECT_TRUE(engine.enabled());
    EXPECT_EQ(scheduler.lastWarmth(), day);
    EXPECT_EQ(logged().size(), 2);
    ASSERT_TRUE(waitFor([this] { return !engine.isAnimating(); }, 3000));
    EXPECT_DOUBLE_EQ(engine.warmth(), day);
}

TEST_F(SchedulerTest, TurningTheScheduleOffStopsTheTimerAndLeavesTheFilter)
{
    AppSettings::setAutoSchedule(true);
    scheduler.setTickInterval(5);
    at(23, 0);
    scheduler.refresh();
    ASSERT_TRUE(waitFor([this] { return !engine.isAnimating(); }, 3000));
    AppSettings::setAutoSchedule(false);
    scheduler.refresh();
    EXPECT_FALSE(scheduler.isRunning());
    EXPECT_EQ(scheduler.lastWarmth(), -1.0);
    const int writes = displays.writes;
    const int reads = clockReads;
    at(12, 0);
    spin(100);
    EXPECT_TRUE(engine.enabled());
    EXPECT_DOUBLE_EQ(engine.warmth(), night);
    EXPECT_EQ(displays.writes, writes);
    EXPECT_EQ(clockReads, reads);
}

TEST_F(SchedulerTest, KeepsTickingWhileAMenuIsOpen)
{
    AppSettings::setAutoSchedule(true);
    scheduler.setTickInterval(10);
    // Every reading of the clock flips between day and night, so every tick changes period.
    scheduler.now = [this] {
        ++clockReads;
        return QDateTime(QDate(2025, 6, 21), clockReads % 2 ? QTime(12, 0) : QTime(23, 0), Qt::LocalTime);
    };
    scheduler.refresh();
    const int before = logged().size();
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"));
    QTimer::singleShot(300, &menu, &QMenu::close);
    menu.exec(QPoint(10, 10));  // a nested event loop until the menu closes
    EXPECT_GE(logged().size() - before, 5);
}
