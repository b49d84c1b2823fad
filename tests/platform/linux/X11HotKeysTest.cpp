// Key grabs against a real Xorg, pressed with xdotool (XTEST); other clients hold keys too.
#include "platform/linux/X11HotKeys.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QProcess>
#include <X11/Xlib.h>
#include <X11/keysym.h>

constexpr std::uint32_t kQ = 12, kZ = 6, kCtrlSuper = 0x1100, kCtrlAltSuper = 0x1900;

// Whether a third client can take the whole combination now.
static bool freeForOthers(std::uint32_t keyCode, std::uint32_t mods)
{
    const auto client = X11Connection::open();
    return X11HotKeys(*client).registerHotKey(keyCode, mods).has_value();
}

class X11HotKeysTest : public ::testing::Test {
protected:
    void SetUp() override { hotKeys->installHandler([this] { ++presses; }); }
    // Presses the keys (combinations apart by spaces) and waits for what they brought.
    int pressesAfter(const QString& keys, int wanted = 1)
    {
        const int before = presses;
        QProcess::execute(QStringLiteral("xdotool"), QStringList {QStringLiteral("key")} + keys.split(u' ', Qt::SkipEmptyParts));
        waitFor([&] { return presses - before >= wanted; }, wanted ? 3000 : 300);
        return presses - before;
    }
    std::unique_ptr<X11Connection> connection = X11Connection::open();
    std::unique_ptr<X11HotKeys> hotKeys = std::make_unique<X11HotKeys>(*connection);
    int presses = 0;
};

TEST_F(X11HotKeysTest, TheShortcutFiresOncePerPressWhateverTheLocksAndATakenOneIsLeftWhole)
{
    // Another client holds Ctrl+Super+Q only with CapsLock on: what we got of the other
    // variants must go back, or a third client could not have them.
    const auto other = X11Connection::open();
    const int q = XKeysymToKeycode(other->display(), XK_q);
    XGrabKey(other->display(), q, ControlMask | Mod4Mask | LockMask, other->root(), False, GrabModeAsync, GrabModeAsync);
    ASSERT_EQ(other->syncAndTakeError(), 0);
    EXPECT_FALSE(hotKeys->registerHotKey(kQ, kCtrlSuper));
    XUngrabKey(other->display(), q, ControlMask | Mod4Mask | LockMask, other->root());
    other->syncAndTakeError();
    EXPECT_TRUE(freeForOthers(kQ, kCtrlSuper));
    EXPECT_FALSE(hotKeys->registerHotKey(kQ + 1000, 0x100));  // no such key
    const auto ref = hotKeys->registerHotKey(kZ, kCtrlAltSuper);
    ASSERT_TRUE(ref);
    EXPECT_EQ(pressesAfter("ctrl+alt+z ctrl+alt+super+shift+z", 0), 0);
    // Each press once, with NumLock, CapsLock or both on.
    for (const QString locks : {"", "Num_Lock", "Caps_Lock", "Num_Lock Caps_Lock"}) {
        SCOPED_TRACE(locks.toStdString());
        EXPECT_EQ(pressesAfter(locks + " ctrl+alt+super+z " + locks), 1);
    }
    // Unregistered, every variant is free again; a new combination takes the presses.
    hotKeys->unregisterHotKey(*ref);
    EXPECT_TRUE(freeForOthers(kZ, kCtrlAltSuper));
    ASSERT_TRUE(hotKeys->registerHotKey(0, 0x200));  // Shift+A
    EXPECT_EQ(pressesAfter("ctrl+alt+super+z", 0), 0);
    EXPECT_EQ(pressesAfter("shift+a"), 1);
}

// The recorder takes the key pressed, not the character the layout makes of it. A client
// reads the keyboard map once, so each layout gets a fresh connection.
TEST_F(X11HotKeysTest, TheRecordedKeyIsTheKeyPressedWhateverTheLayout)
{
    const struct { const char* layouts; KeySym key; std::uint32_t state, recorded; } cases[] = {
        {"es", XK_8, ShiftMask, 28},  // types "("
        {"us,ru,fr", XK_q, 1 << 13, kQ},  // the Latin key, typed in Cyrillic
        {"us,ru,fr", XK_q, 2 << 13, 0}};  // "a" on the French layout
    for (const auto& c : cases) {
        ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {c.layouts}), 0);
        const auto client = X11Connection::open();
        EXPECT_EQ(X11HotKeys(*client).keyCodeOf(XKeysymToKeycode(client->display(), c.key), c.state), c.recorded) << c.layouts;
    }
    QProcess::execute(QStringLiteral("setxkbmap"), {"us"});
    EXPECT_FALSE(hotKeys->keyCodeOf(XKeysymToKeycode(connection->display(), XK_Shift_L), 0));
}
