// Key grabs against a real Xorg, pressed with xdotool (XTEST); other clients hold keys too.
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11HotKeys.h"
#include "system/HotKey.h"

#include "support/TestEnvironment.h"
#include "support/XTestTools.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

constexpr std::uint32_t kQ = 12, kZ = 6, kCtrlSuper = 0x1100, kCtrlAltSuper = 0x1900;

// Whether a third client can take the whole combination now.
bool freeForOthers(std::uint32_t keyCode, std::uint32_t mods)
{
    const auto client = X11Connection::open();
    return X11HotKeys(*client).registerHotKey(keyCode, mods).has_value();
}

class X11HotKeysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(connection);
        hotKeys->installHandler([this] { ++presses; });
    }
    static void key(const char* combo) { XTestTools::run(QStringLiteral("xdotool"), {"key", combo}); }
    // Presses the combination and waits for what it brought.
    int pressesAfter(const char* combo, int wanted = 1)
    {
        const int before = presses;
        key(combo);
        waitFor([&] { return presses - before >= wanted; }, wanted ? 3000 : 300);
        return presses - before;
    }

    std::unique_ptr<X11Connection> connection = X11Connection::open();
    std::unique_ptr<X11HotKeys> hotKeys = std::make_unique<X11HotKeys>(*connection);
    std::unique_ptr<X11Connection> otherClient = X11Connection::open();
    int presses = 0;
};

}  // namespace

TEST_F(X11HotKeysTest, TheShortcutFiresOncePerPressWhateverTheLocksAndOnlyForItsCombination)
{
    ASSERT_TRUE(hotKeys->registerHotKey(kZ, kCtrlAltSuper));
    EXPECT_EQ(pressesAfter("ctrl+alt+super+z"), 1);
    EXPECT_EQ(pressesAfter("ctrl+alt+super+z"), 1);
    EXPECT_EQ(pressesAfter("ctrl+alt+z", 0), 0);
    EXPECT_EQ(pressesAfter("ctrl+alt+super+shift+z", 0), 0);
    // NumLock, CapsLock and both on must not stop it.
    for (const auto& locks : {QStringList {"Num_Lock"}, {"Caps_Lock"}, {"Num_Lock", "Caps_Lock"}}) {
        SCOPED_TRACE(locks.join(u'+').toStdString());
        for (const QString& lock : locks)
            key(lock.toLatin1().constData());
        EXPECT_EQ(pressesAfter("ctrl+alt+super+z"), 1);
        for (const QString& lock : locks)
            key(lock.toLatin1().constData());
    }
}

TEST_F(X11HotKeysTest, ACombinationHeldByAnotherClientIsRefusedAndLeftWhole)
{
    // The other client holds the combination only with CapsLock on: what we got of the
    // others must go back, or a third client could not have them.
    Display* other = otherClient->display();
    const int q = XKeysymToKeycode(other, XK_q);
    XGrabKey(other, q, ControlMask | Mod4Mask | LockMask, otherClient->root(), False, GrabModeAsync, GrabModeAsync);
    ASSERT_EQ(otherClient->syncAndTakeError(), 0);
    EXPECT_FALSE(hotKeys->registerHotKey(kQ, kCtrlSuper));
    XUngrabKey(other, q, ControlMask | Mod4Mask | LockMask, otherClient->root());
    otherClient->syncAndTakeError();
    EXPECT_TRUE(freeForOthers(kQ, kCtrlSuper));
    EXPECT_FALSE(hotKeys->registerHotKey(kQ + 1000, 0x100));  // no such key

    // Unregistered, every variant is free again; a new combination takes the presses.
    const auto ref = hotKeys->registerHotKey(kZ, kCtrlAltSuper);
    ASSERT_TRUE(ref);
    hotKeys->unregisterHotKey(*ref);
    EXPECT_TRUE(freeForOthers(kZ, kCtrlAltSuper));
    ASSERT_TRUE(hotKeys->registerHotKey(0, 0x200));  // Shift+A
    EXPECT_EQ(pressesAfter("ctrl+alt+super+z", 0), 0);
    EXPECT_EQ(pressesAfter("shift+a"), 1);
}

TEST_F(X11HotKeysTest, ATakenShortcutIsNotStoredAndTheOldOneKeepsWorking)
{
    FreshSettings settings;
    HotKey hotKey;
    hotKey.setService(hotKeys.get());
    HotKey::shared().onTrigger = [this] { ++presses; };  // what every HotKey's press calls
    hotKey.registerHotKey();
    const auto holderClient = X11Connection::open();
    X11HotKeys holder(*holderClient);
    ASSERT_TRUE(holder.registerHotKey(kQ, kCtrlSuper));
    EXPECT_FALSE(hotKey.rebind(kQ, kCtrlSuper));
    EXPECT_EQ(hotKey.keyCode(), kZ);
    EXPECT_EQ(hotKey.mods(), kCtrlAltSuper);
    EXPECT_EQ(pressesAfter("ctrl+alt+super+z"), 1);
    HotKey::shared().onTrigger = nullptr;
}

// The recorder takes the key pressed, not the character the layout makes of it: on a Spanish
// keyboard Shift+8 types "(" and Shift+2 a quote; Latin keys of a Cyrillic layout are found
// in the first one.
TEST_F(X11HotKeysTest, TheRecordedKeyIsTheKeyPressedWhateverTheLayout)
{
    const struct {
        const char* layout;
        unsigned long keysym;
        std::uint32_t state, code;
    } cases[] = {{"es", XK_8, ShiftMask, 28}, {"es", XK_2, ControlMask | ShiftMask, 19}, {"us,ru", XK_q, 1 << 13, kQ}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        ASSERT_EQ(XTestTools::run(QStringLiteral("setxkbmap"), {c.layout}), 0);
        connection->syncAndTakeError();
        EXPECT_EQ(hotKeys->keyCodeOf(XKeysymToKeycode(connection->display(), c.keysym), c.state), c.code);
    }
    XTestTools::run(QStringLiteral("setxkbmap"), {"us"});
    EXPECT_FALSE(hotKeys->keyCodeOf(XKeysymToKeycode(connection->display(), XK_Shift_L), 0));
}
