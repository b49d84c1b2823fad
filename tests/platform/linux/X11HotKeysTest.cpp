// Key grabs against a real Xorg, pressed with xdotool (XTEST).
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11HotKeys.h"
#include "system/HotKey.h"
#include "ui/SettingsWindowController.h"

#include "support/TestEnvironment.h"
#include "support/XTestTools.h"

#include <gtest/gtest.h>

#include <QTest>

namespace {

class X11HotKeysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        connection = X11Connection::open();
        ASSERT_TRUE(connection);
        hotKeys = std::make_unique<X11HotKeys>(*connection);
        hotKeys->installHandler([this] { ++presses; });
    }
    void key(const char* combo) { XTestTools::run(QStringLiteral("xdotool"), {"key", combo}); }

    std::unique_ptr<X11Connection> connection;
    std::unique_ptr<X11HotKeys> hotKeys;
    int presses = 0;
};

}  // namespace

TEST_F(X11HotKeysTest, TheDefaultShortcutFiresOncePerPress)
{
    ASSERT_TRUE(hotKeys->registerHotKey(6, 0x1900).has_value());
    key("ctrl+alt+super+z");
    ASSERT_TRUE(waitFor([&] { return presses == 1; }));
    key("ctrl+alt+super+z");
    ASSERT_TRUE(waitFor([&] { return presses == 2; }));
    // Other combinations of the same key do not fire.
    key("ctrl+alt+z");
    key("ctrl+alt+super+shift+z");
    spin(300);
    EXPECT_EQ(presses, 2);
}

TEST_F(X11HotKeysTest, NumLockAndCapsLockDoNotStopIt)
{
    ASSERT_TRUE(hotKeys->registerHotKey(6, 0x1900).has_value());
    XTestTools::run(QStringLiteral("xdotool"), {"key", "Num_Lock"});
    key("ctrl+alt+super+z");
    XTestTools::run(QStringLiteral("xdotool"), {"key", "Num_Lock"});
    XTestTools::run(QStringLiteral("xdotool"), {"key", "Caps_Lock"});
    key("ctrl+alt+super+z");
    XTestTools::run(QStringLiteral("xdotool"), {"key", "Caps_Lock"});
    ASSERT_TRUE(waitFor([&] { return presses == 2; }));
}

TEST_F(X11HotKeysTest, RebindingMovesTheGrab)
{
    auto ref = hotKeys->registerHotKey(6, 0x1900);
    ASSERT_TRUE(ref);
    hotKeys->unregisterHotKey(*ref);
    ASSERT_TRUE(hotKeys->registerHotKey(0, 0x200).has_value());  // Shift+A
    key("ctrl+alt+super+z");
    key("shift+a");
    ASSERT_TRUE(waitFor([&] { return presses == 1; }));
    spin(200);
    EXPECT_EQ(presses, 1);
}

TEST_F(X11HotKeysTest, ACombinationHeldByAnotherClientIsRefused)
{
    auto other = X11Connection::open();
    X11HotKeys first(*other);
    ASSERT_TRUE(first.registerHotKey(12, 0x1100).has_value());  // Ctrl+Super+Q
    EXPECT_FALSE(hotKeys->registerHotKey(12, 0x1100).has_value());
    EXPECT_FALSE(hotKeys->registerHotKey(53 + 1000, 0x100).has_value());  // unknown key code
}

TEST_F(X11HotKeysTest, ATakenShortcutIsNotStoredAndTheOldOneKeepsWorking)
{
    FreshSettings settings;
    HotKey hotKey;
    hotKey.setService(hotKeys.get());
    HotKey::shared().onTrigger = [this] { ++presses; };
    hotKey.registerHotKey();
    auto other = X11Connection::open();
    X11HotKeys holder(*other);
    ASSERT_TRUE(holder.registerHotKey(12, 0x1100).has_value());  // Ctrl+Super+Q

    EXPECT_FALSE(hotKey.rebind(12, 0x1100));
    EXPECT_EQ(hotKey.keyCode(), 6u);
    EXPECT_EQ(hotKey.mods(), 0x1900u);
    key("ctrl+alt+super+z");
    EXPECT_TRUE(waitFor([&] { return presses == 1; }));
    HotKey::shared().onTrigger = nullptr;
}

// The recorder takes the key pressed, not the character the layout makes of it: on a Spanish
// keyboard Shift+8 types "(" (the 9 key's on a US one) and Shift+2 types a quote.
TEST_F(X11HotKeysTest, TheRecorderTakesTheKeyPressedOnASpanishLayout)
{
    FreshSettings settings;
    ASSERT_EQ(XTestTools::run(QStringLiteral("setxkbmap"), {"es"}), 0);
    struct Restore {
        ~Restore()
        {
            HotKey::shared().setService(nullptr);
            XTestTools::run(QStringLiteral("setxkbmap"), {"us"});
        }
    } restore;
    HotKey::shared().setService(hotKeys.get());
    HotKey::shared().registerHotKey();
    {
        SettingsWindowController controller;
        controller.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller.window()));
        const struct {
            const char* typed;
            const char* shown;
        } cases[] = {{"shift+8", "Shift+8"}, {"ctrl+shift+2", "Ctrl+Shift+2"}, {"alt+shift+q", "Alt+Shift+Q"}};
        for (const auto& c : cases) {
            controller.toggleRecord();
            key(c.typed);
            ASSERT_TRUE(waitFor([&] { return !controller.recording(); })) << c.typed;
            EXPECT_EQ(HotKey::shared().label().toStdString(), c.shown);
        }
    }
}
