#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "system/Localization.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QObject>

TEST(Localization, AFreshStoreSpeaksSpanish)
{
    FreshSettings settings;
    Localization loc;
    EXPECT_EQ(loc.lang(), Lang::es);
    EXPECT_EQ(loc.t(QStringLiteral("quit")), QStringLiteral("Salir"));
}

TEST(Localization, AnUnknownStoredLanguageIsSpanish)
{
    FreshSettings settings;
    SettingsStore::shared().setValue(QStringLiteral("vesk.lang"), QStringLiteral("fr"));
    EXPECT_EQ(Localization().lang(), Lang::es);
    SettingsStore::shared().setValue(QStringLiteral("vesk.lang"), QStringLiteral("ca"));
    EXPECT_EQ(Localization().lang(), Lang::ca);
}

TEST(Localization, SetStoresAnnouncesOnceAndOnlyOnRealChange)
{
    FreshSettings settings;
    Localization loc;
    QObject observer;
    int posts = 0;
    QString seenDuringPost;
    NotificationCenter::shared().addObserver(QString::fromLatin1(Localization::didChange), &observer, [&] {
        ++posts;
        seenDuringPost = loc.t(QStringLiteral("detecting"));
    });
    loc.set(Lang::en);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(seenDuringPost, QStringLiteral("Detecting…"));
    EXPECT_EQ(SettingsStore::shared().stringValue(QStringLiteral("vesk.lang")), QStringLiteral("en"));
    loc.set(Lang::en);
    EXPECT_EQ(posts, 1);
}

TEST(Localization, TextsInEachLanguage)
{
    FreshSettings settings;
    Localization loc;
    loc.set(Lang::ca);
    EXPECT_EQ(loc.t(QStringLiteral("conflict")), QStringLiteral("CONFLICTE: tanca %@"));
    EXPECT_EQ(loc.t(QStringLiteral("settings")), QStringLiteral("Configuració…"));
    loc.set(Lang::en);
    EXPECT_EQ(loc.t(QStringLiteral("flicker_mild")),
        QString::fromUtf8("\u26A0\uFE0E Possible PWM flicker \u2014 turn on PWM-Safe"));
    EXPECT_EQ(loc.t(QStringLiteral("about_body")), QStringLiteral("Blocks 100% blue light and PWM-safe software dimming."));
    loc.set(Lang::es);
    EXPECT_EQ(loc.t(QStringLiteral("auto_schedule")), QStringLiteral("Automático según la hora (día/tarde/noche)"));
}

TEST(Localization, AnUnknownKeyShowsItself)
{
    FreshSettings settings;
    EXPECT_EQ(Localization().t(QStringLiteral("no_such_key")), QStringLiteral("no_such_key"));
}

TEST(Localization, LanguagesRoundTripThroughTheirCodes)
{
    ASSERT_EQ(allLangs().size(), 3u);
    for (Lang lang : allLangs())
        EXPECT_EQ(langFromRawValue(rawValue(lang)), lang);
    EXPECT_FALSE(langFromRawValue(QStringLiteral("ES")).has_value());
}
