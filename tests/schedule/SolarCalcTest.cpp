#include "schedule/SolarCalc.h"
#include "ScopedTimeZone.h"
#include <gtest/gtest.h>
#include <limits>
#include <string>

// Almanac times agree to the minute or two the approximation promises; each is pinned as computed.
// Madrid's June and December days and Reykjavik are pinned to the minute by the scheduler's table.
TEST(SolarCalc, SunriseAndSunsetOnTheLocalDayOfTheRequest)
{
    const double inf = std::numeric_limits<double>::infinity(), kNaN = std::numeric_limits<double>::quiet_NaN();
    const QTime none;
    struct Case { const char* zone; double lat, lon; QDate day; QTime rise, set, asked = QTime(12, 0); };
    const auto local = [](const QDateTime& t) { return t.toLocalTime().toString(Qt::ISODate).toStdString(); };
    const Case cases[] = {
        {"Europe/Madrid", 40.4168, -3.7038, {2025, 6, 21}, {6, 44}, {21, 48}, {0, 30}},  // still 20 June in UT
        {"Europe/Madrid", 40.4168, -3.7038, {2025, 12, 21}, {8, 34}, {17, 51}},
        {"Europe/Madrid", 40.4168, -3.7038, {2025, 3, 29}, {7, 4}, {19, 35}},  // the day's own offset: +1 h
        {"Europe/Madrid", 40.4168, -3.7038, {2025, 3, 31}, {8, 0}, {20, 37}},  // +2 h
        {"UTC", 0, 0, {2025, 3, 20}, {6, 4}, {18, 10}},
        {"Asia/Tokyo", 35.6762, 139.6503, {2025, 6, 21}, {4, 25}, {19, 0}},  // sunrise on the UT day before
        {"America/Los_Angeles", 34.05, -118.24, {2025, 6, 21}, {5, 41}, {20, 7}},  // sunset on the UT day after
        {"Europe/Oslo", 69.65, 18.96, {2025, 3, 20}, {5, 45}, {18, 0}},
        {"Europe/Oslo", 69.65, 18.96, {2025, 6, 21}, none, none},  // midnight sun
        {"Europe/Oslo", 69.65, 18.96, {2025, 12, 21}, none, none},  // polar night
        {"UTC", -90, 45, {2025, 9, 23}, none, none},
        {"UTC", kNaN, 0, {2025, 6, 21}, none, none},
        {"UTC", 40, -inf, {2025, 6, 21}, none, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.zone << " " << c.lat << " " << c.day.toString().toStdString());
        ScopedTimeZone tz(c.zone);
        const auto times = SolarCalc::sunTimes(c.lat, c.lon, QDateTime(c.day, c.asked, Qt::LocalTime).toUTC());
        ASSERT_EQ(times.has_value(), c.rise.isValid());
        EXPECT_TRUE(!times || (local(times->sunrise) == local(QDateTime(c.day, c.rise, Qt::LocalTime))
                                  && local(times->sunset) == local(QDateTime(c.day, c.set, Qt::LocalTime))))
            << local(times->sunrise) << " " << local(times->sunset);
    }
}
