#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"
#include "system/EventLog.h"
#include "system/HotKey.h"
#include "system/KeyCodes.h"

#include "FakeHotKeyService.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QObject>

TEST(HotKeyText, TheSymbolFormOrdersTheSymbolsAndNamesTheKey)
{
    EXPECT_EQ(HotKey::symbolText(6, 6400), QStringLiteral("⌃⌥⌘Z"));
    EXPECT_EQ(HotKey::symbolText(49, 0x300), QStringLiteral("⇧⌘␣"));
    EXPECT_EQ(HotKey::symbolText(50, 0x100), QStringLiteral("⌘·"));
    EXPECT_EQ(HotKey::symbolText(53, 0), QStringLiteral("·"));
    EXPECT_EQ(HotKey::symbolText(36, 0xFFFFFFFF), QStringLiteral("⌃⌥⇧⌘↩"));
    EXPECT_EQ(HotKey::symbolText(111, 0x1000), QStringLiteral("⌃F12"));
    EXPECT_EQ(HotKey::symbolText(29, 0x800), QStringLiteral("⌥0"));
}

TEST(HotKeyText, LinuxShowsTheNamesItsDesktopsUse)
{
    const struct {
        std::uint32_t key, mods;
        const char* shown;
    } cases[] = {
        {6, 6400, "Ctrl+Alt+Super+Z"},
        {0, 0x200, "Shift+A"},
        {36, 0xFFFFFFFF, "Ctrl+Alt+Shift+Super+Return"},
        {49, 0x900, "Alt+Super+Space"},
        {123, 0x1000, "Ctrl+Left"},
        {50, 0x100, "Super+`"},
        {1000, 0x800, "Alt+·"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HotKey::describe(c.key, c.mods), QString::fromUtf8(c.shown)) << c.shown;
}

TEST(HotKeyText, EveryKeyIsFoundAgainByItsKeysym)
{
    int keys = 0;
    for (std::uint32_t code = 0; code < 256; ++code) {
        const auto key = KeyCodes::byCode(code);
        if (!key)
            continue;
        ++keys;
        EXPECT_EQ(KeyCodes::byKeysym(key->keysym)->code, code) << key->name;
    }
    EXPECT_GE(keys, 50);
    EXPECT_EQ(KeyCodes::byKeysym(0x51)->code, 12u);  // Q, typed with Shift
    EXPECT_FALSE(KeyCodes::byKeysym(0x28).has_value());  // "(" is no key of its own
}

TEST(HotKeyText, CarbonModsKeepsOnlyTheFourModifiers)
{
    EXPECT_EQ(HotKey::carbonMods(0x10000), 0u);  // caps lock
    EXPECT_EQ(HotKey::carbonMods(0), 0u);
    EXPECT_EQ(HotKey::carbonMods(0x20000 | 0x100000), 0x300u);
    EXPECT_EQ(HotKey::carbonMods(0x40000 | 0x80000 | 0x100000), 6400u);
    EXPECT_EQ(HotKey::carbonMods(0xFFFF | 0x800000 | 0x200000), 0u);  // device bits, fn, numeric pad
}

class HotKeyTest : public ::testing::Test {
protected:
    HotKeyTest() { hotKey.setService(&service); }
    FreshSettings settings;
    FakeHotKeyService service;
    HotKey hotKey;
};

TEST_F(HotKeyTest, AFreshStoreGivesCtrlAltCmdZ)
{
    EXPECT_EQ(hotKey.keyCode(), 6u);
    EXPECT_EQ(hotKey.mods(), 6400u);
    EXPECT_EQ(hotKey.label(), QStringLiteral("Ctrl+Alt+Super+Z"));
}

TEST_F(HotKeyTest, StoredValuesThatAreNotUnsigned32BitIntegersReadAsDefaults)
{
    SettingsStore::shared().setValue(QStringLiteral("vesk.hotkey.key"), QStringLiteral("6"));
    SettingsStore::shared().setValue(QStringLiteral("vesk.hotkey.mods"), -1);
    EXPECT_EQ(hotKey.keyCode(), 6u);
    EXPECT_EQ(hotKey.mods(), 6400u);
    SettingsStore::shared().setValue(QStringLiteral("vesk.hotkey.mods"), 5000000000.0);
    EXPECT_EQ(hotKey.mods(), 6400u);
}

TEST_F(HotKeyTest, RegisteringTwiceInstallsOnceAndKeepsOneRegistration)
{
    hotKey.registerHotKey();
    hotKey.registerHotKey();
    EXPECT_EQ(service.installs, 1);
    ASSERT_EQ(service.registered.size(), 1u);
    EXPECT_EQ(service.registered.begin()->second, (std::pair<std::uint32_t, std::uint32_t>{6, 6400}));
    EXPECT_TRUE(EventLog::shared().dump().endsWith(QStringLiteral("] hotkey: ⌃⌥⌘Z")));
}

TEST_F(HotKeyTest, RebindStoresRegistersLogsAndAnnounces)
{
    QObject observer;
    int posts = 0;
    NotificationCenter::shared().addObserver(QString::fromLatin1(HotKey::didChange), &observer, [&] { ++posts; });
    hotKey.registerHotKey();
    hotKey.rebind(0, 0x200);
    EXPECT_EQ(SettingsStore::shared().integerValue(QStringLiteral("vesk.hotkey.key")), 0);
    EXPECT_EQ(SettingsStore::shared().integerValue(QStringLiteral("vesk.hotkey.mods")), 512);
    EXPECT_EQ(posts, 1);
    ASSERT_EQ(service.registered.size(), 1u);
    EXPECT_EQ(service.registered.begin()->second, (std::pair<std::uint32_t, std::uint32_t>{0, 0x200}));
    EXPECT_TRUE(EventLog::shared().dump().endsWith(QStringLiteral("] hotkey: ⇧A")));
}

TEST_F(HotKeyTest, APressRunsTheCallbackLaterOnTheMainThread)
{
    // The shared instance owns the callback; the handler hands presses to it.
    FakeHotKeyService sharedService;
    HotKey::shared().setService(&sharedService);
    HotKey::shared().registerHotKey();
    int triggers = 0;
    HotKey::shared().onTrigger = [&triggers] { ++triggers; };
    sharedService.press();
    EXPECT_EQ(triggers, 0);  // not inside the dispatch
    ASSERT_TRUE(waitFor([&] { return triggers == 1; }));
    HotKey::shared().onTrigger = nullptr;
    HotKey::shared().setService(nullptr);
}

TEST_F(HotKeyTest, ARefusedShortcutIsStillLogged)
{
    service.refuse = true;
    hotKey.registerHotKey();
    EXPECT_FALSE(hotKey.isRegistered());
    EXPECT_TRUE(EventLog::shared().dump().endsWith(QStringLiteral("] hotkey: ⌃⌥⌘Z")));
}

TEST_F(HotKeyTest, ACombinationAnotherProgramHoldsIsNotTakenAndTheOldOneStays)
{
    QObject observer;
    int posts = 0;
    NotificationCenter::shared().addObserver(QString::fromLatin1(HotKey::didChange), &observer, [&] { ++posts; });
    hotKey.registerHotKey();
    service.taken.insert({12, 0x1100});
    EXPECT_FALSE(hotKey.rebind(12, 0x1100));
    EXPECT_FALSE(SettingsStore::shared().integerValue(QStringLiteral("vesk.hotkey.key")).has_value());
    EXPECT_FALSE(SettingsStore::shared().integerValue(QStringLiteral("vesk.hotkey.mods")).has_value());
    EXPECT_EQ(posts, 0);
    EXPECT_TRUE(hotKey.isRegistered());
    ASSERT_EQ(service.registered.size(), 1u);
    EXPECT_EQ(service.registered.begin()->second, (std::pair<std::uint32_t, std::uint32_t>{6, 6400}));
    EXPECT_TRUE(EventLog::shared().dump().endsWith(QStringLiteral("] hotkey: ⌃⌘Q is taken by another program")));
    EXPECT_EQ(hotKey.refused(), (std::pair<std::uint32_t, std::uint32_t>{12, 0x1100}));

    EXPECT_TRUE(hotKey.rebind(13, 0x1100));
    EXPECT_FALSE(hotKey.refused().has_value());
    EXPECT_EQ(posts, 1);
}
