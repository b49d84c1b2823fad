#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>

TEST(AppSettings, DefaultsClampedAnnouncedWritesReadsAsStoredAndLocations)
{
    FreshSettings settings;  // a missing file: the defaults
    QObject observer;
    int posts = 0;
    NotificationCenter::shared().addObserver(QString::fromLatin1(AppSettings::didChange), &observer, [&posts] { ++posts; });
    const auto hours = [] { return std::vector<int>{AppSettings::dayStart(), AppSettings::eveningStart(), AppSettings::nightStart()}; };
    EXPECT_EQ(hours(), (std::vector<int>{6, 18, 22}));
    EXPECT_FALSE(AppSettings::brightnessFloor() != 10.0 || AppSettings::autoSchedule() || AppSettings::useSolar() || AppSettings::hasLocation());
    AppSettings::setDayStart(-5);
    AppSettings::setEveningStart(24);
    AppSettings::setNightStart(21);
    EXPECT_EQ(hours(), (std::vector<int>{0, 23, 21}));
    for (auto set : {AppSettings::setExtremeDim, AppSettings::setAutoSchedule, AppSettings::setUseSolar})
        set(true);
    EXPECT_TRUE(AppSettings::brightnessFloor() == 1.0 && AppSettings::autoSchedule() && AppSettings::useSolar());
    EXPECT_EQ(posts, 6);
    // Another writer's hour: an int reads back as it is, anything else as the default.
    const std::pair<QJsonValue, int> stored[] = {{30, 30}, {QStringLiteral("21"), 22}, {qint64(1) << 40, 22}, {-(qint64(1) << 40), 22}, {7.5, 22}};
    for (const auto& [value, read] : stored) {
        SettingsStore::shared().setValue(QStringLiteral("vesk.nightStart"), value);
        EXPECT_EQ(AppSettings::nightStart(), read) << read;
    }
    constexpr double inf = std::numeric_limits<double>::infinity(), kNaN = std::numeric_limits<double>::quiet_NaN();
    const struct { double lat, lon; bool has; } places[] = {{0, 0, false}, {0, 12.5, true}, {-12.5, 0, true}, {inf, 5, false}, {5, kNaN, false}};
    for (const auto& c : places) {
        AppSettings::setLatitude(c.lat);
        AppSettings::setLongitude(c.lon);
        EXPECT_EQ(AppSettings::hasLocation(), c.has) << c.lat << ", " << c.lon;
    }
    AppSettings::setLocationName(QStringLiteral("Somewhere"));
    EXPECT_TRUE(AppSettings::locationName() == QStringLiteral("Somewhere") && posts == 6);  // not a behaviour setting
}
