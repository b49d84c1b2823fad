#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "schedule/AppSettings.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QObject>

#include <limits>

namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    AppSettingsTest()
    {
        NotificationCenter::shared().addObserver(QString::fromLatin1(AppSettings::didChange), &observer,
            [this] { ++posts; });
    }
    FreshSettings settings;
    QObject observer;
    int posts = 0;
};

}  // namespace

TEST_F(AppSettingsTest, AFreshStoreGivesTheDefaults)
{
    EXPECT_FALSE(AppSettings::extremeDim());
    EXPECT_FALSE(AppSettings::autoSchedule());
    EXPECT_FALSE(AppSettings::useSolar());
    EXPECT_EQ(AppSettings::dayStart(), 6);
    EXPECT_EQ(AppSettings::eveningStart(), 18);
    EXPECT_EQ(AppSettings::nightStart(), 22);
    EXPECT_EQ(AppSettings::latitude(), 0.0);
    EXPECT_EQ(AppSettings::longitude(), 0.0);
    EXPECT_EQ(AppSettings::locationName(), QString());
    EXPECT_FALSE(AppSettings::hasLocation());
    EXPECT_EQ(AppSettings::brightnessFloor(), 10.0);
}

TEST_F(AppSettingsTest, ExtremeDimLowersTheFloorAndAnnouncesOnce)
{
    AppSettings::setExtremeDim(true);
    EXPECT_EQ(AppSettings::brightnessFloor(), 1.0);
    EXPECT_EQ(posts, 1);
}

TEST_F(AppSettingsTest, HoursAreClampedOnWriteButReadAsStored)
{
    AppSettings::setDayStart(-5);
    EXPECT_EQ(AppSettings::dayStart(), 0);
    AppSettings::setDayStart(24);
    EXPECT_EQ(AppSettings::dayStart(), 23);
    AppSettings::setEveningStart(100);
    EXPECT_EQ(AppSettings::eveningStart(), 23);
    EXPECT_EQ(posts, 3);
    SettingsStore::shared().setValue(QStringLiteral("vesk.nightStart"), 30);
    EXPECT_EQ(AppSettings::nightStart(), 30);
    SettingsStore::shared().setValue(QStringLiteral("vesk.nightStart"), QStringLiteral("21"));
    EXPECT_EQ(AppSettings::nightStart(), 22);
}

TEST_F(AppSettingsTest, LocationWritesAreSilentAndEitherCoordinateCounts)
{
    AppSettings::setLatitude(0.0);
    AppSettings::setLongitude(12.5);
    AppSettings::setLocationName(QStringLiteral("Somewhere"));
    EXPECT_TRUE(AppSettings::hasLocation());
    EXPECT_EQ(posts, 0);
    AppSettings::setLongitude(std::numeric_limits<double>::infinity());
    EXPECT_FALSE(AppSettings::hasLocation());
}
