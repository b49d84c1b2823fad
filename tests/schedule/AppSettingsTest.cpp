#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "schedule/AppSettings.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <limits>

namespace {

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
    for (const QByteArray& content : {QByteArray(), QByteArray(R"({"vesk.dayStart": 7, "vesk.extremeDim": tr)")}) {
        if (!content.isNull()) {
            QDir().mkpath(settings.folder() + QStringLiteral("/Halvex"));
            QFile file(settings.path());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
            file.close();
            SettingsStore::shared().open(settings.path());
        }
        EXPECT_EQ(AppSettings::dayStart(), 6);
        EXPECT_EQ(AppSettings::eveningStart(), 18);
        EXPECT_EQ(AppSettings::nightStart(), 22);
        EXPECT_EQ(AppSettings::brightnessFloor(), 10.0);
        EXPECT_FALSE(AppSettings::autoSchedule() || AppSettings::useSolar() || AppSettings::hasLocation());
    }
}

TEST_F(AppSettingsTest, HoursAreClampedOnWriteAndAnnouncedButReadAsStored)
{
    AppSettings::setDayStart(-5);
    EXPECT_EQ(AppSettings::dayStart(), 0);
    AppSettings::setDayStart(5);
    AppSettings::setEveningStart(24);
    AppSettings::setNightStart(21);
    EXPECT_EQ(AppSettings::dayStart(), 5);
    EXPECT_EQ(AppSettings::eveningStart(), 23);
    EXPECT_EQ(AppSettings::nightStart(), 21);
    EXPECT_EQ(posts, 4);
    // Another writer's values: an int reads back as it is, anything else as the default.
    const QJsonValue stored[] = {30, QStringLiteral("21"), qint64(1) << 40, -(qint64(1) << 40), 7.5};
    const int read[] = {30, 22, 22, 22, 22};
    for (int i = 0; i < 5; ++i) {
        SettingsStore::shared().setValue(QStringLiteral("vesk.nightStart"), stored[i]);
        EXPECT_EQ(AppSettings::nightStart(), read[i]) << i;
    }
}

TEST_F(AppSettingsTest, SwitchesAnnounceThemselvesAndExtremeDimLowersTheFloor)
{
    AppSettings::setExtremeDim(true);
    AppSettings::setAutoSchedule(true);
    AppSettings::setUseSolar(true);
    EXPECT_EQ(posts, 3);
    EXPECT_EQ(AppSettings::brightnessFloor(), 1.0);
    EXPECT_TRUE(AppSettings::autoSchedule() && AppSettings::useSolar());
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
    EXPECT_EQ(posts, 0);
}
