#include "platform/SettingsStore.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

static QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(SettingsStore, ValuesSurviveARestartAsTheirOwnKindAndDamageIsKeptAside)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/Halvex/settings.json");
    {
        SettingsStore store(path);
        EXPECT_EQ(std::tuple(store.boolValue("b"), store.doubleValue("d"), store.stringValue("s")), std::tuple(false, 0.0, QString()));
        for (auto [key, value] : {std::pair {"b", QJsonValue(true)}, {"one", 1}, {"zero", 0.0}, {"i", 7}, {"d", 40.4168},
                 {"s", "Madrid"}, {"big", 9223372036854775807.0}, {"small", -9223372036854775808.0}, {"gone", 1}})
            store.setValue(QString::fromLatin1(key), value);
        store.remove(QStringLiteral("gone"));
    }
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), QStringList {QStringLiteral("settings.json")});
    EXPECT_EQ(QJsonDocument::fromJson(readAll(path)).object().value("i"), QJsonValue(7));
    SettingsStore again(path);
    EXPECT_TRUE(again.boolValue("b") && again.boolValue("one") && !again.boolValue("zero") && !again.boolValue("s"));
    EXPECT_EQ(std::tuple(again.integerValue("i"), again.doubleValue("d"), again.stringValue("s"), again.integerValue("small")),
        std::tuple(std::optional<qint64>(7), 40.4168, QStringLiteral("Madrid"), std::optional(std::numeric_limits<qint64>::min())));
    for (const char* wrong : {"d", "s", "b", "big", "gone"})
        EXPECT_FALSE(again.integerValue(QString::fromLatin1(wrong))) << wrong;
    EXPECT_EQ(again.stringValue("i") + QString::number(again.doubleValue("s")), QStringLiteral("0"));
    for (const QByteArray& damaged : {QByteArray("{\"vesk.dayStart\": 7, oops"), QByteArray("[1, 2, 3]")}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(damaged) == damaged.size());
        file.close();
        SettingsStore store(path);
        EXPECT_FALSE(store.value("vesk.dayStart") || QFile::exists(path));
        store.setValue("vesk.nightStart", 23);
        EXPECT_EQ(readAll(path + ".corrupt"), damaged);
        EXPECT_EQ(SettingsStore(path).integerValue("vesk.nightStart"), 23);
    }
}
