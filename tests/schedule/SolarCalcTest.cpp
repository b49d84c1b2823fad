#include "schedule/SolarCalc.h"

#include "ScopedTimeZone.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

QDateTime localNoon(int y, int m, int d)
{
    return QDateTime(QDate(y, m, d), QTime(12, 0), Qt::LocalTime);
}

// The local clock time of an instant, "HH:mm:ss".
QString clock(const QDateTime& t)
{
    return t.toLocalTime().time().toString(QStringLiteral("HH:mm:ss"));
}

constexpr double madridLat = 40.4168;
constexpr double madridLon = -3.7038;

}  // namespace

TEST(SolarCalc, MadridAtMidsummerWithSummerTime)
{
    ScopedTimeZone tz("Europe/Madrid");
    const QDateTime date = localNoon(2025, 6, 21);
    ASSERT_EQ(date.date().dayOfYear(), 172);
    const auto times = SolarCalc::sunTimes(madridLat, madridLon, date);
    ASSERT_TRUE(times);
    // 4.743 h and 19.806 h universal time, +2 h, minutes truncated.
    EXPECT_EQ(clock(times->sunrise), QStringLiteral("06:44:00"));
    EXPECT_EQ(clock(times->sunset), QStringLiteral("21:48:00"));
    EXPECT_EQ(times->sunrise.toLocalTime().date(), QDate(2025, 6, 21));
    EXPECT_EQ(times->sunset.toLocalTime().date(), QDate(2025, 6, 21));
    EXPECT_EQ(times->sunrise.toUTC(), QDateTime(QDate(2025, 6, 21), QTime(4, 44), Qt::UTC));
    EXPECT_EQ(times->sunset.toUTC(), QDateTime(QDate(2025, 6, 21), QTime(19, 48), Qt::UTC));
}

TEST(SolarCalc, MadridAtMidwinterWithStandardTime)
{
    ScopedTimeZone tz("Europe/Madrid");
    const QDateTime date = localNoon(2025, 12, 21);
    ASSERT_EQ(date.date().dayOfYear(), 355);
    const auto times = SolarCalc::sunTimes(madridLat, madridLon, date);
    ASSERT_TRUE(times);
    EXPECT_EQ(clock(times->sunrise), QStringLiteral("08:34:00"));
    EXPECT_EQ(clock(times->sunset), QStringLiteral("17:51:00"));
}

TEST(SolarCalc, EquatorAndPrimeMeridianAtTheEquinoxInUtc)
{
    ScopedTimeZone tz("UTC");
    const QDateTime date = localNoon(2025, 3, 20);
    ASSERT_EQ(date.date().dayOfYear(), 79);
    const auto times = SolarCalc::sunTimes(0.0, 0.0, date);
    ASSERT_TRUE(times);
    EXPECT_EQ(clock(times->sunrise), QStringLiteral("06:04:00"));
    EXPECT_EQ(clock(times->sunset), QStringLiteral("18:10:00"));
}

TEST(SolarCalc, TheSameMadridDayReadInUtcGivesTheSameInstants)
{
    std::optional<SunTimes> inMadrid;
    {
        ScopedTimeZone tz("Europe/Madrid");
        inMadrid = SolarCalc::sunTimes(madridLat, madridLon, localNoon(2025, 6, 21));
    }
    ScopedTimeZone tz("UTC");
    const auto inUtc = SolarCalc::sunTimes(madridLat, madridLon, localNoon(2025, 6, 21));
    ASSERT_TRUE(inMadrid && inUtc);
    EXPECT_EQ(clock(inUtc->sunrise), QStringLiteral("04:44:00"));
    EXPECT_EQ(clock(inUtc->sunset), QStringLiteral("19:48:00"));
    EXPECT_EQ(inMadrid->sunrise.toMSecsSinceEpoch(), inUtc->sunrise.toMSecsSinceEpoch());
    EXPECT_EQ(inMadrid->sunset.toMSecsSinceEpoch(), inUtc->sunset.toMSecsSinceEpoch());
}

TEST(SolarCalc, UsesTheOffsetOfTheRequestedDayAcrossTheChangeToSummerTime)
{
    // Summer time starts in Spain on 30 March 2025. Whatever today's offset is, the day asked
    // for decides: +1 h on the 29th (day 88), +2 h on the 31st (day 90).
    ScopedTimeZone tz("Europe/Madrid");
    const auto before = SolarCalc::sunTimes(madridLat, madridLon, localNoon(2025, 3, 29));
    const auto after = SolarCalc::sunTimes(madridLat, madridLon, localNoon(2025, 3, 31));
    ASSERT_TRUE(before && after);
    EXPECT_EQ(clock(before->sunrise), QStringLiteral("07:04:00"));
    EXPECT_EQ(clock(before->sunset), QStringLiteral("19:35:00"));
    EXPECT_EQ(clock(after->sunrise), QStringLiteral("08:00:00"));
    EXPECT_EQ(clock(after->sunset), QStringLiteral("20:37:00"));
    EXPECT_EQ(before->sunrise.toLocalTime().offsetFromUtc(), 3600);
    EXPECT_EQ(after->sunrise.toLocalTime().offsetFromUtc(), 7200);

    // Summer and winter of the same year both work out, so at least one of them differs from
    // the offset in force while the test runs.
    const auto june = SolarCalc::sunTimes(madridLat, madridLon, localNoon(2025, 6, 21));
    const auto december = SolarCalc::sunTimes(madridLat, madridLon, localNoon(2025, 12, 21));
    ASSERT_TRUE(june && december);
    EXPECT_EQ(june->sunset.toLocalTime().offsetFromUtc(), 7200);
    EXPECT_EQ(december->sunset.toLocalTime().offsetFromUtc(), 3600);
}

TEST(SolarCalc, TheDayIsTheLocalCalendarDayOfTheRequest)
{
    // 00:30 on 21 June in Madrid is still 20 June in universal time: day 172 counts.
    ScopedTimeZone tz("Europe/Madrid");
    const QDateTime justAfterMidnight(QDate(2025, 6, 21), QTime(0, 30), Qt::LocalTime);
    ASSERT_EQ(justAfterMidnight.toUTC().date(), QDate(2025, 6, 20));
    const auto times = SolarCalc::sunTimes(madridLat, madridLon, justAfterMidnight.toUTC());
    ASSERT_TRUE(times);
    EXPECT_EQ(times->sunrise.toLocalTime(), QDateTime(QDate(2025, 6, 21), QTime(6, 44), Qt::LocalTime));
    EXPECT_EQ(times->sunset.toLocalTime(), QDateTime(QDate(2025, 6, 21), QTime(21, 48), Qt::LocalTime));
}

TEST(SolarCalc, EventsOnTheOtherUniversalDayLandOnTheLocalDay)
{
    {
        // Tokyo's sunrise is at about 19:25 universal time of the day before.
        ScopedTimeZone tz("Asia/Tokyo");
        const auto times = SolarCalc::sunTimes(35.6762, 139.6503, localNoon(2025, 6, 21));
        ASSERT_TRUE(times);
        EXPECT_EQ(times->sunrise.toLocalTime(), QDateTime(QDate(2025, 6, 21), QTime(4, 25), Qt::LocalTime));
        EXPECT_EQ(times->sunset.toLocalTime(), QDateTime(QDate(2025, 6, 21), QTime(19, 0), Qt::LocalTime));
    }
    {
        // Los Angeles' sunset is at about 03:07 universal time of the day after.
        ScopedTimeZone tz("America/Los_Angeles");
        const auto times = SolarCalc::sunTimes(34.05, -118.24, localNoon(2025, 6, 21));
        ASSERT_TRUE(times);
        EXPECT_EQ(times->sunrise.toLocalTime(), QDateTime(QDate(2025, 6, 21), QTime(5, 41), Qt::LocalTime));
        EXPECT_EQ(times->sunset.toLocalTime(), QDateTime(QDate(2025, 6, 21), QTime(20, 7), Qt::LocalTime));
    }
}

TEST(SolarCalc, PolarDayAndPolarNightHaveNoTimes)
{
    ScopedTimeZone tz("Europe/Oslo");
    EXPECT_FALSE(SolarCalc::sunTimes(69.65, 18.96, localNoon(2025, 6, 21)));   // midnight sun
    EXPECT_FALSE(SolarCalc::sunTimes(69.65, 18.96, localNoon(2025, 12, 21)));  // polar night
    // The same place in spring has both events.
    EXPECT_TRUE(SolarCalc::sunTimes(69.65, 18.96, localNoon(2025, 3, 20)));
}

TEST(SolarCalc, ThePolesHaveNoTimes)
{
    ScopedTimeZone tz("UTC");
    for (const QDateTime& date : {localNoon(2025, 3, 20), localNoon(2025, 6, 21), localNoon(2025, 9, 23), localNoon(2025, 12, 21)}) {
        EXPECT_FALSE(SolarCalc::sunTimes(90.0, 0.0, date)) << date.toString().toStdString();
        EXPECT_FALSE(SolarCalc::sunTimes(-90.0, 45.0, date)) << date.toString().toStdString();
    }
}

TEST(SolarCalc, InstantsCarryNoSecondsAllYearRound)
{
    ScopedTimeZone tz("Europe/Madrid");
    int days = 0;
    for (QDate d(2024, 1, 1); d.year() == 2024; d = d.addDays(1)) {
        const QDateTime date(d, QTime(9, 17, 33, 250), Qt::LocalTime);
        const auto times = SolarCalc::sunTimes(madridLat, madridLon, date);
        ASSERT_TRUE(times) << d.toString().toStdString();
        for (const QDateTime& t : {times->sunrise, times->sunset}) {
            const QDateTime local = t.toLocalTime();
            EXPECT_EQ(local.time().second(), 0);
            EXPECT_EQ(local.time().msec(), 0);
            EXPECT_EQ(local.date(), d);
        }
        EXPECT_LT(times->sunrise, times->sunset);
        ++days;
    }
    EXPECT_EQ(days, 366);
}

TEST(SolarCalc, CoordinatesThatAreNotNumbersHaveNoTimes)
{
    ScopedTimeZone tz("UTC");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QDateTime date = localNoon(2025, 6, 21);
    EXPECT_FALSE(SolarCalc::sunTimes(nan, 0.0, date));
    EXPECT_FALSE(SolarCalc::sunTimes(40.0, nan, date));
    EXPECT_FALSE(SolarCalc::sunTimes(inf, 0.0, date));
    EXPECT_FALSE(SolarCalc::sunTimes(40.0, -inf, date));
}
