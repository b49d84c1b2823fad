// The settings window: languages, recording the global shortcut, location, credits.
#include "online/Tips.h"
#include "system/HotKey.h"
#include "ui/SettingsWindowController.h"

#include "FakeHotKeyService.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QLineEdit>
#include <QTest>

namespace {
class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest()
    {
        Localization::shared().set(Lang::en);
        HotKey::shared().setService(&hotKeys);
        HotKey::shared().registerHotKey();
    }
    ~SettingsWindowTest() override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // earlier builds' controls
        HotKey::shared().setService(nullptr);
    }
    void clickRecord() { QTest::mouseClick(controller.recordButton(), Qt::LeftButton); }
    // As the window system gives it: the keysym (a Latin-1 key is its own), no hardware key number.
    void keyPress(Qt::Key key, Qt::KeyboardModifiers mods = {}, quint32 keysym = 0)
    {
        for (QEvent::Type type : {QEvent::ShortcutOverride, QEvent::KeyPress}) {
            QKeyEvent event(type, key, mods, 0, keysym ? keysym : (key < 0x100 ? key : 0), 0);
            QApplication::sendEvent(controller.window(), &event);
        }
    }
    FreshSettings settings;
    FakeHotKeyService hotKeys;
    SettingsWindowController controller;
};
}  // namespace

TEST_F(SettingsWindowTest, FlagsChangeTheLanguageAtOnceExceptTheActiveOne)
{
    Localization::shared().set(Lang::es);
    controller.show();
    QTest::mouseClick(controller.flags()[0].btn, Qt::LeftButton);  // the active one
    EXPECT_EQ(controller.buildCount(), 1);
    QTest::mouseClick(controller.flags()[2].btn, Qt::LeftButton);
    EXPECT_EQ(Localization().lang(), Lang::ca);  // kept
    EXPECT_TRUE(controller.flags()[2].btn->active() && !controller.flags()[0].btn->active() && !controller.flags()[1].btn->active());
    HotKey::shared().setService(nullptr);  // nothing can deliver a shortcut
    controller.show();
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Drecera global (VESK):  cap en aquest escriptori"));
}

TEST_F(SettingsWindowTest, RecordingTakesAModifiedFreeKeyAndNothingElse)
{
    const struct { Qt::Key key; Qt::KeyboardModifiers mods; quint32 keysym; const char* label; } cases[] = {  // label nullptr: still recording
        {Qt::Key_A, Qt::NoModifier, 0, nullptr},
        {Qt::Key_Shift, Qt::ShiftModifier, 0, nullptr},
        {Qt::Key_1, Qt::ShiftModifier | Qt::KeypadModifier, 0, nullptr},
        {Qt::Key_1, Qt::ShiftModifier, 0, nullptr},  // a shifted digit: which key made it depends on the layout
        {Qt::Key_A, Qt::ShiftModifier, 0, "Shift+A"},
        {Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier, 0, "Ctrl+Alt+Super+Z"},
        {Qt::Key_F5, Qt::AltModifier | Qt::ShiftModifier, 0xffc2, "Alt+Shift+F5"},
    };
    controller.show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label ? c.label : "none");
        HotKey::shared().rebind(0, HotKeyMask::control);
        clickRecord();
        EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Press shortcut…"));
        keyPress(c.key, c.mods, c.keysym);
        EXPECT_EQ(HotKey::shared().label(), c.label ? QString::fromUtf8(c.label) : QStringLiteral("Ctrl+A"));
        EXPECT_EQ(controller.recording(), !c.label);
        if (!c.label)
            clickRecord();  // the button again cancels
    }
    keyPress(Qt::Key_B, Qt::ControlModifier);  // no longer caught
    EXPECT_EQ(HotKey::shared().label(), QStringLiteral("Alt+Shift+F5"));
    SCOPED_TRACE("a taken combination is said and not taken; Escape or closing stop; keys reach no control");
    hotKeys.taken.insert({12, HotKeyMask::control | HotKeyMask::command});
    QLineEdit field;
    field.show();
    clickRecord();
    keyPress(Qt::Key_Escape);
    EXPECT_FALSE(controller.recording());
    clickRecord();
    QTest::keyClicks(&field, QStringLiteral("cd"));  // reaches no control while recording
    keyPress(Qt::Key_Q, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Alt+Shift+F5"));
    EXPECT_EQ(controller.hkTakenLabel()->text(), QStringLiteral("Ctrl+Super+Q is taken by another program"));
    clickRecord();
    Localization::shared().set(Lang::es);  // rebuilt while recording: still recording
    keyPress(Qt::Key_W, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Atajo global (VESK):  Ctrl+Super+W"));
    clickRecord();
    controller.window()->close();
    EXPECT_FALSE(controller.recording());
    QTest::keyClicks(&field, QStringLiteral("x"));
    EXPECT_EQ(field.text(), QStringLiteral("x"));
}

TEST_F(SettingsWindowTest, CreditsComeFromTheFeedAndOnlyAWebAddressIsOpened)
{
    std::vector<QUrl> opened;
    controller.openURL = [&opened](const QUrl& url) { opened.push_back(url); };
    for (const char* address : {"https://example.org/marren", "not an address", "file:///etc/passwd", "smb://host/share", "steam://run/1", "https://", ""}) {
        Tips::Document document;
        document.about = MessageSource {{QStringLiteral("en"), QStringLiteral("Made by Marren.")}};
        if (*address)
            document.about->insert(QStringLiteral("url"), QString::fromLatin1(address));
        Tips::shared().apply(document);
        controller.show();
        QTest::mouseClick(controller.contentView()->findChild<VeskFlatButton*>(QStringLiteral("aboutLink")), Qt::LeftButton);
    }
    EXPECT_EQ(controller.contentView()->findChild<QLabel*>(QStringLiteral("credits"))->text(), QStringLiteral("Made by Marren."));
    EXPECT_EQ(opened, std::vector<QUrl> {QUrl(QStringLiteral("https://example.org/marren"))});
}
