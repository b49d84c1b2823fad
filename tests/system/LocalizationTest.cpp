#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "system/Localization.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

// Delivered by name, at once; dead observers are forgotten; a handler may remove and add
// observers while a post runs.
TEST(NotificationCenter, DeliversByNameAndForgetsDeadObservers)
{
    NotificationCenter center;
    auto observer = std::make_unique<QObject>();
    QObject other;
    QString calls;
    center.addObserver(QStringLiteral("A"), observer.get(), [&] { calls += u'a'; });
    center.addObserver(QStringLiteral("B"), observer.get(), [&] { calls += u'b'; });
    center.addObserver(QStringLiteral("A"), &other, [&] {
        calls += u'o';
        center.removeObservers(&other);
        center.addObserver(QStringLiteral("A"), &other, [&] { calls += u'n'; });
    });
    center.post(QStringLiteral("A"));
    EXPECT_EQ(calls + QString::number(center.observerCount(QStringLiteral("A"))), QStringLiteral("ao2"));
    observer.reset();
    center.post(QStringLiteral("A"));
    EXPECT_EQ(calls, QStringLiteral("aon"));
    EXPECT_EQ(std::pair(center.observerCount(QStringLiteral("A")), center.observerCount(QStringLiteral("B"))), std::pair(1, 0));
}

TEST(Localization, TheStoredLanguageOrSpanishAnnouncedOnlyOnARealChange)
{
    FreshSettings settings;
    EXPECT_EQ(Localization().t(QStringLiteral("quit")), QStringLiteral("Salir"));
    for (const auto& [stored, lang] : {std::pair {"fr", Lang::es}, {"ES", Lang::es}, {"ca", Lang::ca}, {"en", Lang::en}}) {
        SettingsStore::shared().setValue(QStringLiteral("vesk.lang"), QString::fromLatin1(stored));
        EXPECT_EQ(Localization().lang(), lang) << stored;
    }
    EXPECT_EQ(Localization().t(QStringLiteral("no_such_key")), QStringLiteral("no_such_key"));
    Localization loc;
    QObject observer;
    QStringList seen;  // what a listener reads while being told
    NotificationCenter::shared().addObserver(QString::fromLatin1(Localization::didChange), &observer,
        [&] { seen << loc.t(QStringLiteral("conflict")) + loc.t(QStringLiteral("flicker_mild")); });
    loc.set(Lang::ca);
    loc.set(Lang::ca);
    loc.set(Lang::en);
    EXPECT_EQ(seen, (QStringList {QStringLiteral("CONFLICTE: tanca %@⚠︎ Possible parpelleig PWM — activa Anti-PWM"),
                        QStringLiteral("CONFLICT: quit %@\u26A0\uFE0E Possible PWM flicker \u2014 turn on PWM-Safe")}));
    EXPECT_EQ(SettingsStore::shared().stringValue(QStringLiteral("vesk.lang")), QStringLiteral("en"));
}
