#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "system/EventLog.h"
#include "system/HotKey.h"
#include "system/KeyCodes.h"

#include "FakeHotKeyService.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using Combination = std::pair<std::uint32_t, std::uint32_t>;

TEST(HotKeyText, SymbolsAndNamesInTheirOrder)
{
    const struct { std::uint32_t key, mods; const char *symbols, *names; } cases[] = {
        {6, 6400, "⌃⌥⌘Z", "Ctrl+Alt+Super+Z"}, {0, 0x200, "⇧A", "Shift+A"},
        {36, 0xFFFFFFFF, "⌃⌥⇧⌘↩", "Ctrl+Alt+Shift+Super+Return"}, {49, 0x900, "⌥⌘␣", "Alt+Super+Space"},
        {126, 0x1000, "⌃·", "Ctrl+Up"}, {50, 0x100, "⌘·", "Super+`"}, {1000, 0, "·", "·"}, {111, 0x1000, "⌃F12", "Ctrl+F12"}};
    for (const auto& c : cases)
        EXPECT_EQ(HotKey::symbolText(c.key, c.mods) + u'|' + HotKey::describe(c.key, c.mods), QString::fromUtf8(c.symbols) + u'|' + c.names);
    // Only the four modifiers count: not caps lock, device bits, fn or the numeric pad.
    EXPECT_EQ(std::tuple(HotKey::carbonMods(0x10000 | 0xFFFF | 0x800000 | 0x200000), HotKey::carbonMods(0x20000 | 0x100000),
                  HotKey::carbonMods(0x40000 | 0x80000 | 0x100000)), std::tuple(0u, 0x300u, 6400u));
    // Every key, found by its keysym, is the one its code names: no code is used twice.
    for (std::uint32_t keysym = 0; keysym < 0x10000; ++keysym) {
        const auto key = KeyCodes::byKeysym(keysym);
        EXPECT_TRUE(!key || KeyCodes::byCode(key->code)->keysym == key->keysym) << keysym;
    }
    EXPECT_EQ(KeyCodes::byKeysym(0x51)->code, 12u);  // Q, typed with Shift
    EXPECT_FALSE(KeyCodes::byKeysym(0x28));  // "(" is no key of its own
}

TEST(HotKey, StoredRegisteredRebound)
{
    FreshSettings settings;
    FakeHotKeyService service;
    HotKey& hotKey = HotKey::shared();  // it owns the callback the handler hands presses to
    hotKey.setService(&service);
    auto& store = SettingsStore::shared();
    QObject observer;
    int posts = 0, triggers = 0;
    NotificationCenter::shared().addObserver(QString::fromLatin1(HotKey::didChange), &observer, [&posts] { ++posts; });
    // Posts, what is stored, what is registered, the last line logged.
    const auto now = [&] {
        const Combination stored(store.integerValue("vesk.hotkey.key").value_or(-1), store.integerValue("vesk.hotkey.mods").value_or(-1));
        return std::tuple(posts, stored, service.registered.size() == 1 ? service.registered.begin()->second : Combination {},
            EventLog::shared().dump().section("] ", -1));
    };
    hotKey.onTrigger = [&triggers] { ++triggers; };
    hotKey.registerHotKey();
    hotKey.registerHotKey();
    EXPECT_EQ(service.installs, 1);
    EXPECT_EQ(now(), std::tuple(0, Combination(-1, -1), Combination(6, 6400), QStringLiteral("hotkey: ⌃⌥⌘Z")));
    service.press();
    EXPECT_EQ(triggers, 0);  // not inside the dispatch, later on the main thread
    EXPECT_TRUE(waitFor([&] { return triggers == 1; }));
    hotKey.onTrigger = nullptr;
    EXPECT_TRUE(hotKey.rebind(0, 0x200));
    EXPECT_EQ(now(), std::tuple(1, Combination(0, 0x200), Combination(0, 0x200), QStringLiteral("hotkey: ⇧A")));
    // A combination another program holds is not taken, nor stored, and the old one stays.
    service.taken.insert({12, 0x1100});
    EXPECT_FALSE(hotKey.rebind(12, 0x1100));
    EXPECT_EQ(now(), std::tuple(1, Combination(0, 0x200), Combination(0, 0x200), QStringLiteral("hotkey: ⌃⌘Q is taken by another program")));
    EXPECT_EQ(hotKey.refused(), Combination(12, 0x1100));
    EXPECT_TRUE(hotKey.rebind(13, 0x1100) && !hotKey.refused());
    service.refuse = true;  // refused at start: still logged
    hotKey.registerHotKey();
    EXPECT_TRUE(!hotKey.isRegistered() && EventLog::shared().dump().endsWith(QStringLiteral("] hotkey: ⌃⌘W")));
    const auto storeAndRead = [&](const QJsonValue& key, const QJsonValue& mods) {
        store.setValue(QStringLiteral("vesk.hotkey.key"), key);
        store.setValue(QStringLiteral("vesk.hotkey.mods"), mods);
        return Combination(hotKey.keyCode(), hotKey.mods());
    };
    EXPECT_EQ(storeAndRead("0", -1), Combination(6, 6400));  // outside unsigned 32 bits: the default
    EXPECT_EQ(storeAndRead(0, 4294967296.0), Combination(0, 6400));
    EXPECT_EQ(storeAndRead(0, 4294967295.0), Combination(0, 0xFFFFFFFF));
    hotKey.setService(nullptr);
}
