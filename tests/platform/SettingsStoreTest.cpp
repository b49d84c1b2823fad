#include "platform/SettingsStore.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

TEST(SettingsStore, TypesSurviveARestart)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/Halvex/settings.json");
    {
        SettingsStore store(path);
        store.setValue(QStringLiteral("vesk.autoSchedule"), true);
        store.setValue(QStringLiteral("vesk.dayStart"), 7);
        store.setValue(QStringLiteral("vesk.lat"), 40.4168);
        store.setValue(QStringLiteral("vesk.locName"), QStringLiteral("Madrid, Spain"));
    }
    SettingsStore again(path);
    EXPECT_TRUE(again.boolValue(QStringLiteral("vesk.autoSchedule")));
    EXPECT_EQ(again.integerValue(QStringLiteral("vesk.dayStart")), 7);
    EXPECT_DOUBLE_EQ(again.doubleValue(QStringLiteral("vesk.lat")), 40.4168);
    EXPECT_FALSE(again.integerValue(QStringLiteral("vesk.lat")).has_value());
    EXPECT_EQ(again.stringValue(QStringLiteral("vesk.locName")), QStringLiteral("Madrid, Spain"));
    // Kinds do not convert into one another.
    EXPECT_EQ(again.stringValue(QStringLiteral("vesk.dayStart")), QString());
    EXPECT_FALSE(again.integerValue(QStringLiteral("vesk.locName")).has_value());
    EXPECT_FALSE(again.integerValue(QStringLiteral("vesk.autoSchedule")).has_value());

    // A person or a script can read the file: one flat object of the keys.
    const QJsonObject object = QJsonDocument::fromJson(readAll(path)).object();
    EXPECT_EQ(object.value(QStringLiteral("vesk.dayStart")).toInt(), 7);
    EXPECT_TRUE(object.value(QStringLiteral("vesk.autoSchedule")).isBool());
}

TEST(SettingsStore, AMissingFileGivesDefaults)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path() + QStringLiteral("/none/settings.json"));
    EXPECT_FALSE(store.boolValue(QStringLiteral("vesk.extremeDim")));
    EXPECT_EQ(store.doubleValue(QStringLiteral("vesk.lat")), 0.0);
    EXPECT_EQ(store.stringValue(QStringLiteral("vesk.lang")), QString());
    EXPECT_FALSE(store.value(QStringLiteral("vesk.dayStart")).has_value());
}

TEST(SettingsStore, ACorruptFileIsKeptAsideAndNotOverwritten)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/settings.json");
    const QByteArray garbage = "{\"vesk.dayStart\": 7, oops";
    writeAll(path, garbage);
    SettingsStore store(path);
    EXPECT_FALSE(store.value(QStringLiteral("vesk.dayStart")).has_value());
    EXPECT_EQ(readAll(path + QStringLiteral(".corrupt")), garbage);
    store.setValue(QStringLiteral("vesk.nightStart"), 23);
    EXPECT_EQ(readAll(path + QStringLiteral(".corrupt")), garbage);
    EXPECT_EQ(SettingsStore(path).integerValue(QStringLiteral("vesk.nightStart")), 23);
}

TEST(SettingsStore, ATopLevelThatIsNotAnObjectCountsAsCorrupt)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/settings.json");
    writeAll(path, "[1, 2, 3]");
    SettingsStore store(path);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(path + QStringLiteral(".corrupt")));
}

TEST(SettingsStore, WritesLeaveNoTemporaryFilesBehind)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/settings.json");
    SettingsStore store(path);
    for (int i = 0; i < 20; ++i)
        store.setValue(QStringLiteral("vesk.dayStart"), i);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("settings.json")});
    store.remove(QStringLiteral("vesk.dayStart"));
    EXPECT_FALSE(SettingsStore(path).value(QStringLiteral("vesk.dayStart")).has_value());
}
