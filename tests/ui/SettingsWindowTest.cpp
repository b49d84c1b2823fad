// The settings window: its controls, recording the global shortcut, location, credits, support report.
#include "app/AppDelegate.h"
#include "engine/VeskEngine.h"
#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "schedule/Geo.h"
#include "schedule/Scheduler.h"
#include "schedule/SolarCalc.h"
#include "system/HotKey.h"
#include "system/SupportReport.h"
#include "ui/Popover.h"
#include "ui/SettingsWindowController.h"

#include "FakeDisplayServices.h"
#include "FakeHotKeyService.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace {

const QString geoPath = QString::fromLatin1(Geo::path);
const QString defaultShortcut = QStringLiteral("Global hotkey (VESK):  Ctrl+Alt+Super+Z");

class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest()
    {
        Localization::shared().set(Lang::en);
        HotKey::shared().setService(&hotKeys);
        HotKey::shared().registerHotKey();
        VeskEngine::shared().setDisplayServices(&displays);
        Geo::setService(geoServer.url(QString()), 5000);
    }
    ~SettingsWindowTest() override
    {
        AppSettings::setAutoSchedule(false);
        Scheduler::shared().refresh();
        VeskEngine::shared().setBrightness(100);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // earlier builds' controls
        VeskEngine::shared().setDisplayServices(nullptr);
        HotKey::shared().setService(nullptr);
        Localization::shared().set(Lang::en);
    }
    template <typename T = QLabel>
    T* child(const char* name) { return controller.contentView()->findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly); }
    // A click on the box itself (the frame is wider than box and title).
    static void clickBox(QCheckBox* check) { QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(7, check->height() / 2)); }
    void clickRecord() { QTest::mouseClick(controller.recordButton(), Qt::LeftButton); }
    // A press as the window system gives it: the keysym (a Latin-1 key is its own) and no
    // hardware key number, so the recorder reads the keysym.
    void keyPress(Qt::Key key, Qt::KeyboardModifiers mods = {}, quint32 keysym = 0, QWidget* target = nullptr)
    {
        for (QEvent::Type type : {QEvent::ShortcutOverride, QEvent::KeyPress}) {
            QKeyEvent event(type, key, mods, 0, keysym ? keysym : (key < 0x100 ? key : 0), 0);
            QApplication::sendEvent(target ? target : controller.window(), &event);
        }
    }

    FreshSettings settings;
    FakeHotKeyService hotKeys;
    FakeDisplayServices displays;
    LoopbackServer geoServer;
    SettingsWindowController controller;
};

}  // namespace

TEST_F(SettingsWindowTest, FlagsChangeTheLanguageAtOnceExceptTheActiveOne)
{
    Localization::shared().set(Lang::es);
    controller.show();
    EXPECT_TRUE(controller.flags()[0].btn->active() && !controller.flags()[1].btn->active() && !controller.flags()[2].btn->active());
    QTest::mouseClick(controller.flags()[0].btn, Qt::LeftButton);
    VeskFlatButton stranger(QStringLiteral("🇦🇩"));  // not of this build
    controller.flagTapped(&stranger);
    EXPECT_EQ(controller.buildCount(), 1);

    QTest::mouseClick(controller.flags()[2].btn, Qt::LeftButton);
    EXPECT_EQ(Localization().lang(), Lang::ca);  // kept
    EXPECT_EQ(child("title")->text(), QStringLiteral("Ambrano — Configuració…"));
    EXPECT_TRUE(controller.flags()[2].btn->active() && !controller.flags()[0].btn->active());
}

TEST_F(SettingsWindowTest, ExtremeDimTheScheduleAndItsHoursFollowTheirControlsAndTheAppOpensIt)
{
    AppDelegate delegate;  // hands the floor to the engine
    VeskEngine& engine = VeskEngine::shared();
    AppSettings::setDayStart(8);
    controller.show();
    clickBox(controller.dimCheck());
    engine.setBrightness(3);
    EXPECT_DOUBLE_EQ(engine.brightness(), 3.0);
    clickBox(controller.dimCheck());
    EXPECT_DOUBLE_EQ(engine.brightness(), 10.0);  // lifted to the floor
    controller.window()->close();
    AppSettings::setExtremeDim(true);  // each show brings the current state
    controller.show();
    EXPECT_TRUE(controller.dimCheck()->isChecked());

    clickBox(controller.autoCheck());
    EXPECT_TRUE(Scheduler::shared().isRunning());
    auto* day = child<QComboBox>("hourPopup0");
    EXPECT_EQ(day->itemText(9), QStringLiteral("09:00"));
    const int evening = AppSettings::eveningStart();
    const int night = AppSettings::nightStart();
    QTest::keyClick(day, Qt::Key_Down);
    QTest::keyClick(child<QComboBox>("hourPopup2"), Qt::Key_Up);
    EXPECT_EQ(AppSettings::dayStart(), 9);
    EXPECT_EQ(AppSettings::eveningStart(), evening);
    EXPECT_EQ(AppSettings::nightStart(), night - 1);
    clickBox(controller.autoCheck());
    EXPECT_FALSE(Scheduler::shared().isRunning());

    // The tray menu and the panel's button open the one shared window; the panel closes.
    delegate.openSettings();
    QWidget* window = SettingsWindowController::shared().window();
    ASSERT_TRUE(window && window->isVisible());
    window->close();
    delegate.popover()->showRelativeTo(QRect(700, 0, 24, 24));
    delegate.openSettingsRequested();
    EXPECT_FALSE(delegate.popover()->isShown());
    EXPECT_TRUE(SettingsWindowController::shared().window() == window && window->isVisible());
    window->close();
}

TEST_F(SettingsWindowTest, LocationIsDetectedOnceForTheSunAndAFailureSaysNotSet)
{
    geoServer.route(geoPath, QByteArray(R"({"status":"fail"})"));
    controller.show();
    QTest::mouseClick(child<VeskFlatButton>("detectButton"), Qt::LeftButton);
    EXPECT_EQ(controller.locLabel()->text(), QStringLiteral("Detecting…"));
    ASSERT_TRUE(waitFor([&] { return controller.locLabel()->text() == QStringLiteral("Location not set"); }));

    geoServer.route(geoPath, LoopbackServer::Response {
        200, R"({"status":"success","lat":41.39,"lon":2.17,"city":"Barcelona","country":"Spain"})", true, true});
    AppSettings::setAutoSchedule(true);
    ASSERT_FALSE(Scheduler::shared().isRunning());
    clickBox(controller.useSolarCheck());
    EXPECT_TRUE(Scheduler::shared().isRunning()) << "it waits for the lookup";
    ASSERT_TRUE(waitFor([&] { return geoServer.heldCount() == 1; }));
    geoServer.releaseHeld();
    ASSERT_TRUE(waitFor([] { return AppSettings::hasLocation(); }));
    const auto times = SolarCalc::sunTimes(41.39, 2.17).value();
    EXPECT_EQ(controller.locLabel()->text(), QStringLiteral("📍 Barcelona, Spain  ☀ %1  🌙 %2")
        .arg(times.sunrise.toString(QStringLiteral("HH:mm")), times.sunset.toString(QStringLiteral("HH:mm"))));
    clickBox(controller.useSolarCheck());
    clickBox(controller.useSolarCheck());  // stored now: no second lookup
    spin(100);
    EXPECT_EQ(geoServer.requests().size(), 2);
}

// --- recording the shortcut ---

TEST_F(SettingsWindowTest, RecordingTakesAModifiedKeyAndNothingElse)
{
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        quint32 keysym;
        const char* label;  // nullptr: still recording
    } cases[] = {
        {Qt::Key_A, Qt::NoModifier, 0, nullptr},
        {Qt::Key_Shift, Qt::ShiftModifier, 0, nullptr},  // a modifier alone
        {Qt::Key_1, Qt::ShiftModifier | Qt::KeypadModifier, 0, nullptr},
        {Qt::Key_1, Qt::ShiftModifier, 0, nullptr},  // a shifted digit: which key made it depends on the layout
        {Qt::Key_A, Qt::ShiftModifier, 0, "Shift+A"},
        {Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier, 0, "Ctrl+Alt+Super+Z"},  // Super is Meta on X11
        {Qt::Key_F5, Qt::AltModifier | Qt::ShiftModifier, 0xffc2, "Alt+Shift+F5"},
    };
    controller.show();
    int announced = 0;
    QObject context;
    NotificationCenter::shared().addObserver(QString::fromLatin1(HotKey::didChange), &context, [&announced] { ++announced; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label ? c.label : "none");
        HotKey::shared().rebind(0, HotKeyMask::control);
        announced = 0;
        clickRecord();
        EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Press shortcut…"));
        keyPress(c.key, c.mods, c.keysym);
        EXPECT_EQ(HotKey::shared().label(), c.label ? QString::fromUtf8(c.label) : QStringLiteral("Ctrl+A"));
        EXPECT_EQ(announced, c.label ? 1 : 0);
        if (!c.label)
            clickRecord();  // the button again cancels
        EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("Change"));
        ASSERT_EQ(hotKeys.registered.size(), 1u);  // the new one alone, with the service at once
        EXPECT_EQ(HotKey::describe(hotKeys.registered.begin()->second.first, hotKeys.registered.begin()->second.second), HotKey::shared().label());
    }
    keyPress(Qt::Key_B, Qt::ControlModifier);  // no longer caught
    EXPECT_EQ(HotKey::shared().label(), QStringLiteral("Alt+Shift+F5"));
}

TEST_F(SettingsWindowTest, ATakenCombinationIsSaidAndNotTakenEscapeOrClosingStopKeysReachNoControl)
{
    hotKeys.taken.insert({12, HotKeyMask::control | HotKeyMask::command});
    QLineEdit field;
    field.show();
    controller.show();
    clickRecord();
    keyPress(Qt::Key_Escape);
    EXPECT_FALSE(controller.recording());
    clickRecord();
    QTest::keyClicks(&field, QStringLiteral("cd"));  // reaches no control while recording
    keyPress(Qt::Key_Q, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_FALSE(controller.recording());
    EXPECT_EQ(controller.hkLabel()->text(), defaultShortcut);
    EXPECT_EQ(controller.hkTakenLabel()->text(), QStringLiteral("Ctrl+Super+Q is taken by another program"));
    clickRecord();
    Localization::shared().set(Lang::es);  // rebuilt while recording: still recording
    EXPECT_EQ(controller.hkTakenLabel()->text(), QString());
    keyPress(Qt::Key_W, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Atajo global (VESK):  Ctrl+Super+W"));
    EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("Cambiar"));
    clickRecord();
    controller.window()->close();
    EXPECT_FALSE(controller.recording());
    QTest::keyClicks(&field, QStringLiteral("x"));
    EXPECT_EQ(field.text(), QStringLiteral("x"));
}

TEST_F(SettingsWindowTest, TheLongestShortcutFitsItsLineAndNoFacilityIsSaid)
{
    Localization::shared().set(Lang::ca);
    HotKey::shared().rebind(121, HotKeyMask::control | HotKeyMask::option | HotKeyMask::shift | HotKeyMask::command);
    controller.show();
    QLabel* line = controller.hkLabel();
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("Ctrl+Alt+Shift+Super+Page Down")));
    EXPECT_LE(QFontMetricsF(line->font()).horizontalAdvance(line->text()), line->width());
    HotKey::shared().setService(nullptr);  // nothing can deliver a shortcut
    controller.show();
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Drecera global (VESK):  cap en aquest escriptori"));
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
        QTest::mouseClick(child<VeskFlatButton>("aboutLink"), Qt::LeftButton);
    }
    EXPECT_EQ(child("credits")->text(), QStringLiteral("Made by Marren."));
    EXPECT_EQ(opened, std::vector<QUrl> {QUrl(QStringLiteral("https://example.org/marren"))});
}

TEST_F(SettingsWindowTest, CopyFeedbackFillsTheClipboardAndSaysSoForASecondAndAHalf)
{
    displays.displays.push_back({1, true, 3024, 1964});
    controller.show();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(controller.feedbackButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), SupportReport::text());
    EXPECT_TRUE(SupportReport::text().contains(QStringLiteral("\n  - 1 builtin 3024x1964\n")));
    EXPECT_EQ(controller.feedbackButton()->titleStr(), QStringLiteral("Copied to clipboard"));
    ASSERT_TRUE(waitFor([&] { return controller.feedbackButton()->titleStr() == QStringLiteral("COPY FEEDBACK FOR SUPPORT"); }, 4000));
    EXPECT_GE(clock.elapsed(), 1450);
}
