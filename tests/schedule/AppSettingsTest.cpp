#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "schedule/AppSettings.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <limits>
#include <utility>
#include <vector>

namespace {

std::vector<int> hours() { return {AppSettings::dayStart(), AppSettings::eveningStart(), AppSettings::nightStart()}; }

class AppSettingsTest : public ::testing::Test {
protected:
    AppSettingsTest()
    {
        NotificationCenter::shared().addObserver(QString::fromLatin1(AppSettings::didChange), &observer, [this] { ++posts; });
    }
    FreshSettings settings;
    QObject observer;
    int posts = 0;
};

}  // namespace

TEST_F(AppSettingsTest, AMissingOrDamagedFileGivesTheDefaults)
{
    for (const char* content : {static_cast<const char*>(nullptr), R"({"vesk.dayStart": 7, "vesk.extremeDim": tr)"}) {
        QFile file(settings.path());
        if (content && QDir().mkpath(settings.folder() + QStringLiteral("/Halvex")) && file.open(QIODevice::WriteOnly)) {
            file.write(content);
            file.close();
            SettingsStore::shared().open(settings.path());
        }
        ASSERT_EQ(QFile::exists(settings.path()), false);  // set aside, or never there
        EXPECT_EQ(hours(), (std::vector<int>{6, 18, 22}));
        EXPECT_EQ(AppSettings::brightnessFloor(), 10.0);
        EXPECT_FALSE(AppSettings::autoSchedule() || AppSettings::useSolar() || AppSettings::hasLocation());
    }
}

TEST_F(AppSettingsTest, WritesAreClampedAndAnnouncedButReadAsStored)
{
    AppSettings::setDayStart(-5);
    EXPECT_EQ(AppSettings::dayStart(), 0);
    AppSettings::setDayStart(5);
    AppSettings::setEveningStart(24);
    AppSettings::setNightStart(21);
    EXPECT_EQ(hours(), (std::vector<int>{5, 23, 21}));
    AppSettings::setExtremeDim(true);
    AppSettings::setAutoSchedule(true);
    AppSettings::setUseSolar(true);
    EXPECT_TRUE(AppSettings::brightnessFloor() == 1.0 && AppSettings::autoSchedule() && AppSettings::useSolar());
    EXPECT_EQ(posts, 7);
    // Another writer's hour: an int reads back as it is, anything else as the default.
    const std::pair<QJsonValue, int> stored[] = {{30, 30}, {QStringLiteral("21"), 22}, {qint64(1) << 40, 22}, {-(qint64(1) << 40), 22}, {7.5, 22}};
    for (const auto& [value, read] : stored) {
        SettingsStore::shared().setValue(QStringLiteral("vesk.nightStart"), value);
        EXPECT_EQ(AppSettings::nightStart(), read) << read;
    }
}

TEST_F(AppSettingsTest, EitherCoordinateMakesALocationButNotAnInfiniteOrNaNOne)
{
    constexpr double inf = std::numeric_limits<double>::infinity(), kNaN = std::numeric_limits<double>::quiet_NaN();
    const struct { double lat, lon; bool has; } cases[] = {{0, 0, false}, {0, 12.5, true}, {-12.5, 0, true}, {inf, 5, false}, {5, kNaN, false}};
    for (const auto& c : cases) {
        AppSettings::setLatitude(c.lat);
        AppSettings::setLongitude(c.lon);
        EXPECT_EQ(AppSettings::hasLocation(), c.has) << c.lat << ", " << c.lon;
    }
    AppSettings::setLocationName(QStringLiteral("Somewhere"));
    EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Somewhere"));
    EXPECT_EQ(posts, 0);  // the place is not a behaviour setting
}
