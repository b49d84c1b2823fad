#include "ui/SettingsWindowController.h"

#include "app/AppDelegate.h"
#include "engine/VeskEngine.h"
#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "schedule/Geo.h"
#include "schedule/Scheduler.h"
#include "schedule/SolarCalc.h"
#include "system/EventLog.h"
#include "system/HotKey.h"
#include "system/Localization.h"
#include "system/SupportReport.h"
#include "ui/FlippedView.h"
#include "ui/Theme.h"

#include "FakeDisplayServices.h"
#include "FakeHotKeyService.h"
#include "Pixels.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>


namespace {

const QString kGeoPath = QString::fromLatin1(Geo::path);

class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest()
    {
        Localization::shared().set(Lang::en);
        HotKey::shared().setService(&hotKeys);
        HotKey::shared().registerHotKey();
        VeskEngine::shared().setDisplayServices(&displays);
        savedGeoUrl = Geo::serviceUrl();
        Geo::setService(geoServer.url(QString()), 5000);
    }
    ~SettingsWindowTest() override
    {
        AppSettings::setAutoSchedule(false);
        Scheduler::shared().refresh();
        VeskEngine::shared().setEnabled(false);
        VeskEngine::shared().setWarmth(62);
        VeskEngine::shared().setBrightness(100);
        // Controls of earlier builds wait for the event loop to delete them.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        VeskEngine::shared().setDisplayServices(nullptr);
        HotKey::shared().setService(nullptr);
        Geo::setService(savedGeoUrl);
        Localization::shared().set(Lang::en);
    }

    template <typename T>
    T* child(const char* name)
    {
        auto* found = controller.contentView()->findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) { return child<QLabel>(name)->text(); }

    // A click on the box itself (the frame is wider than box and title).
    static void clickBox(QCheckBox* check) { QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(7, check->height() / 2)); }

    // A press as the window system gives it: with the key's keysym (Latin-1 keys are their
    // own keysym) and no hardware key number, so the recorder reads the keysym.
    static void keyPress(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, quint32 keysym = 0)
    {
        if (keysym == 0 && key < 0x100)
            keysym = key;
        for (QEvent::Type type : {QEvent::ShortcutOverride, QEvent::KeyPress}) {
            QKeyEvent event(type, key, modifiers, 0, keysym, 0);
            QApplication::sendEvent(target, &event);
        }
    }

    FreshSettings settings;
    FakeHotKeyService hotKeys;
    FakeDisplayServices displays;
    LoopbackServer geoServer;
    QString savedGeoUrl;
    SettingsWindowController controller;
};

}  // namespace

// Layout.

TEST_F(SettingsWindowTest, NothingIsBuiltBeforeTheFirstShow)
{
    EXPECT_EQ(controller.window(), nullptr);
    controller.rebuild();
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(controller.buildCount(), 0);
}

TEST_F(SettingsWindowTest, WindowIsAFixedDarkWindowTitledAmbrano)
{
    controller.show();
    QWidget* window = controller.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Ambrano"));
    EXPECT_EQ(window->size(), QSize(440, 660));
    EXPECT_EQ(window->minimumSize(), QSize(440, 660));
    EXPECT_EQ(window->maximumSize(), QSize(440, 660));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(controller.contentView()->geometry(), QRect(0, 0, 440, 660));

    // The free margin and the gap between rows are the dark window colour.
    const QImage image = snapshot(*window);
    EXPECT_TRUE(colorNear(at(image, 5, 5), Theme::veskBlack()));
    EXPECT_TRUE(colorNear(at(image, 430, 650), Theme::veskBlack()));
    EXPECT_TRUE(colorNear(at(image, 200, 115), Theme::veskBlack()));
}

TEST_F(SettingsWindowTest, FlagsInOrderWithTheCurrentLanguageActive)
{
    Localization::shared().set(Lang::es);
    controller.show();
    const auto& flags = controller.flags();
    ASSERT_EQ(flags.size(), 3u);
    const QString titles[] = {QStringLiteral("🇪🇸"), QStringLiteral("🇬🇧"), QStringLiteral("🇦🇩")};
    const Lang langs[] = {Lang::es, Lang::en, Lang::ca};
    for (int i = 0; i < 3; ++i) {
        VeskFlatButton* button = flags[i].btn;
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(flags[i].lang, langs[i]);
        EXPECT_EQ(button->titleStr(), titles[i]);
        EXPECT_TRUE(button->flagMode());
        EXPECT_EQ(button->bg(), Theme::veskBlack());
        EXPECT_EQ(button->fontSize(), 17);
        EXPECT_EQ(button->active(), i == 0);
    }
    EXPECT_EQ(text("title"), QStringLiteral("Ambrano — Ajustes…"));
}

TEST_F(SettingsWindowTest, HourPopupsListTheDayAndShowTheStoredHours)
{
    AppSettings::setDayStart(8);
    AppSettings::setEveningStart(19);
    AppSettings::setNightStart(22);
    controller.show();
    const int expected[] = {8, 19, 22};
    for (int i = 0; i < 3; ++i) {
        auto* popup = controller.contentView()->findChild<QComboBox*>(QStringLiteral("hourPopup%1").arg(i));
        ASSERT_NE(popup, nullptr);
        ASSERT_EQ(popup->count(), 24);
        EXPECT_EQ(popup->itemText(0), QStringLiteral("00:00"));
        EXPECT_EQ(popup->itemText(9), QStringLiteral("09:00"));
        EXPECT_EQ(popup->itemText(23), QStringLiteral("23:00"));
        EXPECT_FALSE(popup->isEditable());
        EXPECT_EQ(popup->currentIndex(), expected[i]);
    }
}

// Showing and rebuilding.

TEST_F(SettingsWindowTest, ShowingTwiceCreatesOnceWithOneObserverAndRecentres)
{
    const QString name = QString::fromLatin1(Localization::didChange);
    const int observers = NotificationCenter::shared().observerCount(name);
    controller.show();
    QWidget* first = controller.window();
    const QPoint centred = first->pos();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(first->frameGeometry().center().x() - area.center().x()), 2);
    EXPECT_LE(std::abs(first->frameGeometry().center().y() - area.center().y()), 2);
    EXPECT_EQ(NotificationCenter::shared().observerCount(name), observers + 1);

    first->move(centred + QPoint(200, 100));
    first->close();
    EXPECT_FALSE(first->isVisible());
    controller.show();
    EXPECT_EQ(controller.window(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->pos(), centred);
    EXPECT_EQ(NotificationCenter::shared().observerCount(name), observers + 1);
    EXPECT_EQ(controller.buildCount(), 2);
}

TEST_F(SettingsWindowTest, EachShowBringsTheCurrentState)
{
    controller.show();
    EXPECT_FALSE(controller.dimCheck()->isChecked());
    QPointer<QCheckBox> old = controller.dimCheck();
    AppSettings::setExtremeDim(true);
    HotKey::shared().rebind(0, HotKeyMask::control);
    controller.show();
    EXPECT_TRUE(controller.dimCheck()->isChecked());
    EXPECT_NE(controller.dimCheck(), old.data());
    EXPECT_EQ(text("hkLabel"), QStringLiteral("Global hotkey (VESK):  Ctrl+A"));
    // Only the current build's controls are in the window; the old ones go away.
    EXPECT_TRUE(old.isNull() || old->parent() == nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(old.isNull());
}

TEST_F(SettingsWindowTest, WithoutAnyShortcutFacilityTheLineSaysSoInsteadOfAShortcut)
{
    HotKey::shared().setService(nullptr);
    const struct {
        Lang lang;
        const char* line;
    } cases[] = {
        {Lang::en, "Global hotkey (VESK):  none on this desktop"},
        {Lang::es, "Atajo global (VESK):  ninguno en este escritorio"},
        {Lang::ca, "Drecera global (VESK):  cap en aquest escriptori"},
    };
    for (const auto& c : cases) {
        Localization::shared().set(c.lang);
        controller.show();
        QLabel* line = child<QLabel>("hkLabel");
        EXPECT_EQ(line->text(), QString::fromUtf8(c.line));
        EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width()) << c.line;
    }
}

TEST_F(SettingsWindowTest, ChoosingCatalanRebuildsAtOnce)
{
    controller.show();
    VeskFlatButton* catalan = controller.flags()[2].btn;
    QTest::mouseClick(catalan, Qt::LeftButton);
    EXPECT_EQ(Localization::shared().lang(), Lang::ca);
    EXPECT_EQ(text("title"), QStringLiteral("Ambrano — Configuració…"));
    ASSERT_EQ(controller.flags().size(), 3u);
    EXPECT_FALSE(controller.flags()[0].btn->active());
    EXPECT_FALSE(controller.flags()[1].btn->active());
    EXPECT_TRUE(controller.flags()[2].btn->active());
    EXPECT_NE(controller.flags()[2].btn.data(), catalan);
    EXPECT_EQ(text("hkLabel"), QStringLiteral("Drecera global (VESK):  Ctrl+Alt+Super+Z"));
    EXPECT_EQ(controller.feedbackButton()->titleStr(), QStringLiteral("COPIA INFORME PER A SUPORT"));
    EXPECT_EQ(controller.buildCount(), 2);
    // The choice is kept.
    EXPECT_EQ(Localization().lang(), Lang::ca);

    // And back, through the rebuilt flags.
    QTest::mouseClick(controller.flags()[1].btn, Qt::LeftButton);
    EXPECT_EQ(Localization::shared().lang(), Lang::en);
    EXPECT_EQ(text("title"), QStringLiteral("Ambrano — Settings…"));
}

TEST_F(SettingsWindowTest, ChoosingTheActiveFlagDoesNothing)
{
    controller.show();
    int posts = 0;
    QObject context;
    NotificationCenter::shared().addObserver(QString::fromLatin1(Localization::didChange), &context, [&posts] { ++posts; });
    QLabel* title = child<QLabel>("title");
    QTest::mouseClick(controller.flags()[1].btn, Qt::LeftButton);
    spin(20);
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(controller.buildCount(), 1);
    EXPECT_EQ(child<QLabel>("title"), title);
    EXPECT_EQ(Localization::shared().lang(), Lang::en);
}

TEST_F(SettingsWindowTest, AFlagThatIsNotOfTheCurrentBuildDoesNothing)
{
    controller.show();
    VeskFlatButton stranger(QStringLiteral("🇦🇩"));
    controller.flagTapped(&stranger);
    EXPECT_EQ(Localization::shared().lang(), Lang::en);
}

// Check boxes and pop-ups.

TEST_F(SettingsWindowTest, ExtremeDimFollowsItsBoxAndAnnouncesIt)
{
    AppDelegate delegate;  // hands the floor to the engine
    VeskEngine& engine = VeskEngine::shared();
    controller.show();
    int changes = 0;
    QObject context;
    NotificationCenter::shared().addObserver(QString::fromLatin1(AppSettings::didChange), &context, [&changes] { ++changes; });
    clickBox(controller.dimCheck());
    EXPECT_TRUE(AppSettings::extremeDim());
    EXPECT_GE(changes, 1);
    engine.setBrightness(3);
    EXPECT_DOUBLE_EQ(engine.brightness(), 3.0);
    clickBox(controller.dimCheck());
    EXPECT_FALSE(AppSettings::extremeDim());
    EXPECT_DOUBLE_EQ(engine.brightness(), 10.0);  // lifted to the floor, not left below it
    engine.setBrightness(100);
}

TEST_F(SettingsWindowTest, AutomaticScheduleStartsTheSchedulerAtOnce)
{
    Scheduler::shared().refresh();
    ASSERT_FALSE(Scheduler::shared().isRunning());
    controller.show();
    clickBox(controller.autoCheck());
    EXPECT_TRUE(AppSettings::autoSchedule());
    EXPECT_TRUE(Scheduler::shared().isRunning());
    EXPECT_GE(Scheduler::shared().lastWarmth(), 0.0);
    clickBox(controller.autoCheck());
    EXPECT_FALSE(AppSettings::autoSchedule());
    EXPECT_FALSE(Scheduler::shared().isRunning());
}

TEST_F(SettingsWindowTest, HourPopupsSetTheirOwnHour)
{
    AppSettings::setAutoSchedule(true);
    controller.show();
    auto* night = child<QComboBox>("hourPopup2");
    const int before = AppSettings::nightStart();
    QTest::keyClick(night, Qt::Key_Up);
    EXPECT_EQ(AppSettings::nightStart(), before - 1);
    EXPECT_TRUE(Scheduler::shared().isRunning());
    auto* day = child<QComboBox>("hourPopup0");
    const int evening = AppSettings::eveningStart();
    QTest::keyClick(day, Qt::Key_Down);
    EXPECT_EQ(AppSettings::dayStart(), day->currentIndex());
    EXPECT_EQ(AppSettings::eveningStart(), evening);
    EXPECT_EQ(AppSettings::nightStart(), before - 1);
    auto* eveningPopup = child<QComboBox>("hourPopup1");
    QTest::keyClick(eveningPopup, Qt::Key_Down);
    EXPECT_EQ(AppSettings::eveningStart(), evening + 1);
}

// Location.

TEST_F(SettingsWindowTest, SolarWithoutALocationDetectsOnceAndRefreshesAtOnce)
{
    geoServer.route(kGeoPath, LoopbackServer::Response {
        200, R"({"status":"success","lat":41.39,"lon":2.17,"city":"Barcelona","country":"Spain"})", true, true});
    AppSettings::setAutoSchedule(true);
    controller.show();
    ASSERT_FALSE(AppSettings::hasLocation());
    // A refresh leaves this mark; the scheduler is idle before the click.
    AppSettings::setAutoSchedule(false);
    Scheduler::shared().refresh();
    AppSettings::setAutoSchedule(true);
    ASSERT_FALSE(Scheduler::shared().isRunning());

    clickBox(controller.useSolarCheck());
    EXPECT_TRUE(AppSettings::useSolar());
    EXPECT_EQ(controller.locLabel()->text(), QStringLiteral("Detecting…"));
    EXPECT_TRUE(Scheduler::shared().isRunning()) << "the scheduler waits for the lookup";
    ASSERT_TRUE(waitFor([&] { return geoServer.heldCount() == 1; }));
    EXPECT_EQ(geoServer.count(kGeoPath), 1);
    EXPECT_EQ(controller.locLabel()->text(), QStringLiteral("Detecting…"));

    geoServer.releaseHeld();
    ASSERT_TRUE(waitFor([&] { return controller.locLabel()->text() != QStringLiteral("Detecting…"); }));
    EXPECT_TRUE(AppSettings::hasLocation());
    EXPECT_TRUE(controller.locLabel()->text().startsWith(QStringLiteral("📍 ")));
    EXPECT_TRUE(controller.locLabel()->text().contains(QStringLiteral("Barcelona")));
    spin(100);
    EXPECT_EQ(geoServer.requests().size(), 1);
}

TEST_F(SettingsWindowTest, SolarWithAStoredLocationStartsNoLookup)
{
    AppSettings::setLatitude(41.39);
    AppSettings::setLongitude(2.17);
    AppSettings::setLocationName(QStringLiteral("Barcelona, Spain"));
    controller.show();
    clickBox(controller.useSolarCheck());
    EXPECT_TRUE(AppSettings::useSolar());
    spin(300);
    EXPECT_TRUE(geoServer.requests().isEmpty());
    const QRegularExpression status(QStringLiteral("^📍 Barcelona, Spain  ☀ \\d\\d:\\d\\d  🌙 \\d\\d:\\d\\d$"));
    EXPECT_TRUE(status.match(controller.locLabel()->text()).hasMatch()) << controller.locLabel()->text().toStdString();

    // The times are the sun's at that place today, in local time.
    const auto times = SolarCalc::sunTimes(41.39, 2.17);
    ASSERT_TRUE(times.has_value());
    EXPECT_TRUE(controller.locLabel()->text().contains(QStringLiteral("☀ ") + times->sunrise.toString(QStringLiteral("HH:mm"))));
    EXPECT_TRUE(controller.locLabel()->text().contains(QStringLiteral("🌙 ") + times->sunset.toString(QStringLiteral("HH:mm"))));

    // Switching it off starts nothing either.
    clickBox(controller.useSolarCheck());
    EXPECT_FALSE(AppSettings::useSolar());
    spin(100);
    EXPECT_TRUE(geoServer.requests().isEmpty());
}

TEST_F(SettingsWindowTest, APolarLocationShowsOnlyThePlace)
{
    double lat = 89.9;
    if (SolarCalc::sunTimes(lat, 0.0))
        lat = -89.9;
    if (SolarCalc::sunTimes(lat, 0.0))
        GTEST_SKIP() << "both poles see a sunrise today (equinox)";
    AppSettings::setLatitude(lat);
    AppSettings::setLongitude(0.0);
    AppSettings::setLocationName(QStringLiteral("Pole"));
    controller.show();
    EXPECT_EQ(controller.locLabel()->text(), QStringLiteral("📍 Pole"));
}

TEST_F(SettingsWindowTest, AFailedDetectionShowsTheStoredPlaceAgain)
{
    geoServer.route(kGeoPath, QByteArray(R"({"status":"fail"})"));
    controller.show();
    QTest::mouseClick(child<VeskFlatButton>("detectButton"), Qt::LeftButton);
    EXPECT_EQ(controller.locLabel()->text(), QStringLiteral("Detecting…"));
    ASSERT_TRUE(waitFor([&] { return controller.locLabel()->text() == QStringLiteral("Location not set"); }));
    EXPECT_EQ(geoServer.count(kGeoPath), 1);
    EXPECT_FALSE(AppSettings::hasLocation());
}

TEST_F(SettingsWindowTest, ALookupEndingAfterTheControllerIsGoneDoesNoHarm)
{
    geoServer.route(kGeoPath, LoopbackServer::Response {
        200, R"({"status":"success","lat":48.85,"lon":2.35,"city":"Paris","country":"France"})", true, true});
    {
        SettingsWindowController shortLived;
        shortLived.show();
        shortLived.detectLocationTapped();
        ASSERT_TRUE(waitFor([&] { return geoServer.heldCount() == 1; }));
    }
    geoServer.releaseHeld();
    ASSERT_TRUE(waitFor([] { return AppSettings::hasLocation(); }));
    EXPECT_EQ(AppSettings::locationName(), QStringLiteral("Paris, France"));
}

// Recording a shortcut.

TEST_F(SettingsWindowTest, RecordingShowsItsState)
{
    controller.show();
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    EXPECT_TRUE(controller.recording());
    EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("✕"));
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Press shortcut…"));
}

TEST_F(SettingsWindowTest, AKeyWithoutModifierKeepsRecording)
{
    controller.show();
    const auto registered = hotKeys.registered;
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    keyPress(controller.window(), Qt::Key_A);
    keyPress(controller.window(), Qt::Key_Shift, Qt::ShiftModifier);  // a modifier pressed alone
    keyPress(controller.window(), Qt::Key_1, Qt::ShiftModifier | Qt::KeypadModifier);
    EXPECT_TRUE(controller.recording());
    EXPECT_EQ(HotKey::shared().keyCode(), HotKey::defaultKeyCode);
    EXPECT_EQ(HotKey::shared().mods(), HotKey::defaultMods);
    EXPECT_EQ(hotKeys.registered, registered);
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Press shortcut…"));
}

TEST_F(SettingsWindowTest, ShiftARebindsAndStops)
{
    controller.show();
    int announced = 0;
    QObject context;
    NotificationCenter::shared().addObserver(QString::fromLatin1(HotKey::didChange), &context, [&announced] { ++announced; });
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    keyPress(controller.window(), Qt::Key_A, Qt::ShiftModifier);
    EXPECT_FALSE(controller.recording());
    EXPECT_EQ(HotKey::shared().keyCode(), 0u);
    EXPECT_EQ(HotKey::shared().mods(), HotKeyMask::shift);
    EXPECT_EQ(HotKey::shared().label(), QStringLiteral("Shift+A"));
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Shift+A"));
    EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("Change"));
    EXPECT_EQ(announced, 1);
    // Registered again with the service at once, and only the new one.
    ASSERT_EQ(hotKeys.registered.size(), 1u);
    EXPECT_EQ(hotKeys.registered.begin()->second, std::make_pair(0u, HotKeyMask::shift));

    // The next key is no longer caught.
    keyPress(controller.window(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(HotKey::shared().label(), QStringLiteral("Shift+A"));
}

TEST_F(SettingsWindowTest, EveryModifierReachesTheMask)
{
    controller.show();
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    // Super arrives as Meta on X11.
    keyPress(controller.window(), Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    EXPECT_EQ(HotKey::shared().keyCode(), 6u);
    EXPECT_EQ(HotKey::shared().mods(), 0x1900u);
    EXPECT_EQ(HotKey::shared().label(), QStringLiteral("Ctrl+Alt+Super+Z"));

    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    keyPress(controller.window(), Qt::Key_F5, Qt::AltModifier | Qt::ShiftModifier, 0xffc2);
    EXPECT_EQ(HotKey::shared().keyCode(), 96u);
    EXPECT_EQ(HotKey::shared().mods(), HotKeyMask::option | HotKeyMask::shift);
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Alt+Shift+F5"));
}

TEST_F(SettingsWindowTest, ATakenCombinationIsSaidBelowTheShortcutAndNotTaken)
{
    hotKeys.taken.insert({12, HotKeyMask::control | HotKeyMask::command});
    controller.show();
    EXPECT_EQ(controller.hkTakenLabel()->text(), QString());
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    keyPress(controller.window(), Qt::Key_Q, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_FALSE(controller.recording());
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Ctrl+Alt+Super+Z"));
    EXPECT_EQ(controller.hkTakenLabel()->text(), QStringLiteral("Ctrl+Super+Q is taken by another program"));
    Localization::shared().set(Lang::es);
    EXPECT_EQ(controller.hkTakenLabel()->text(), QStringLiteral("Ctrl+Super+Q ya lo usa otro programa"));

    // A free combination clears it.
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    keyPress(controller.window(), Qt::Key_W, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Atajo global (VESK):  Ctrl+Super+W"));
    EXPECT_EQ(controller.hkTakenLabel()->text(), QString());
}

TEST_F(SettingsWindowTest, TheLongestShortcutFitsItsLine)
{
    Localization::shared().set(Lang::ca);
    HotKey::shared().rebind(121, 0x1B00);  // Ctrl+Alt+Shift+Super+Page Down
    controller.show();
    QLabel* line = controller.hkLabel();
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("Ctrl+Alt+Shift+Super+Page Down")));
    EXPECT_LE(QFontMetricsF(line->font()).horizontalAdvance(line->text()), line->width());
}

TEST_F(SettingsWindowTest, EscapeStopsAndKeepsTheShortcut)
{
    controller.show();
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    keyPress(controller.window(), Qt::Key_Escape);
    EXPECT_FALSE(controller.recording());
    EXPECT_EQ(HotKey::shared().label(), QStringLiteral("Ctrl+Alt+Super+Z"));
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Global hotkey (VESK):  Ctrl+Alt+Super+Z"));
    EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("Change"));
}

TEST_F(SettingsWindowTest, TheRecordButtonAgainCancels)
{
    controller.show();
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    EXPECT_FALSE(controller.recording());
    EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("Change"));
    keyPress(controller.window(), Qt::Key_A, Qt::ShiftModifier);
    EXPECT_EQ(HotKey::shared().label(), QStringLiteral("Ctrl+Alt+Super+Z"));
}

TEST_F(SettingsWindowTest, KeysWhileRecordingReachNoControl)
{
    QLineEdit field;
    field.show();
    controller.show();
    QTest::keyClicks(&field, QStringLiteral("ab"));
    ASSERT_EQ(field.text(), QStringLiteral("ab"));

    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    QTest::keyClicks(&field, QStringLiteral("cd"));
    keyPress(&field, Qt::Key_Space);
    EXPECT_EQ(field.text(), QStringLiteral("ab"));
    // The shortcut itself is caught too, wherever it is typed.
    keyPress(&field, Qt::Key_E, Qt::ShiftModifier);
    EXPECT_EQ(field.text(), QStringLiteral("ab"));
    EXPECT_EQ(HotKey::shared().label(), QStringLiteral("Shift+E"));

    QTest::keyClicks(&field, QStringLiteral("f"));
    EXPECT_EQ(field.text(), QStringLiteral("abf"));
}

TEST_F(SettingsWindowTest, ClosingTheWindowStopsRecording)
{
    QLineEdit field;
    field.show();
    controller.show();
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    controller.window()->close();
    EXPECT_FALSE(controller.recording());
    QTest::keyClicks(&field, QStringLiteral("x"));
    EXPECT_EQ(field.text(), QStringLiteral("x"));
    controller.show();
    EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("Change"));
}

TEST_F(SettingsWindowTest, ALanguageChangeWhileRecordingKeepsRecording)
{
    controller.show();
    QTest::mouseClick(controller.recordButton(), Qt::LeftButton);
    Localization::shared().set(Lang::ca);
    EXPECT_TRUE(controller.recording());
    EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("✕"));
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Drecera global (VESK):  Prem la combinació…"));
    keyPress(controller.window(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_FALSE(controller.recording());
    EXPECT_EQ(controller.hkLabel()->text(), QStringLiteral("Drecera global (VESK):  Ctrl+K"));
    EXPECT_EQ(controller.recordButton()->titleStr(), QStringLiteral("Canvia"));
}

// Credits.

TEST_F(SettingsWindowTest, CreditsAndTheirLinkComeFromTheFeed)
{
    std::vector<QUrl> opened;
    controller.openURL = [&opened](const QUrl& url) { opened.push_back(url); };

    Tips::Document document;
    document.about = MessageSource {{QStringLiteral("en"), QStringLiteral("Made by Marren.")},
        {QStringLiteral("url"), QStringLiteral("https://example.org/marren")}};
    Tips::shared().apply(document);
    controller.show();
    EXPECT_EQ(text("credits"), QStringLiteral("Made by Marren."));
    EXPECT_EQ(controller.aboutURL(), QStringLiteral("https://example.org/marren"));
    QTest::mouseClick(child<VeskFlatButton>("aboutLink"), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://example.org/marren")));

    // Not a web address: nothing is handed to the desktop.
    for (const char* address : {"not an address", "file:///etc/passwd", "smb://host/share", "steam://run/1", "https://"}) {
        document.about = MessageSource {{QStringLiteral("en"), QStringLiteral("x")}, {QStringLiteral("url"), QString::fromLatin1(address)}};
        Tips::shared().apply(document);
        controller.show();
        QTest::mouseClick(child<VeskFlatButton>("aboutLink"), Qt::LeftButton);
        EXPECT_EQ(opened.size(), 1u) << address;
    }

    // No link at all.
    document.about = MessageSource {{QStringLiteral("en"), QStringLiteral("x")}};
    Tips::shared().apply(document);
    controller.show();
    EXPECT_FALSE(controller.aboutURL().has_value());
    QTest::mouseClick(child<VeskFlatButton>("aboutLink"), Qt::LeftButton);
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(SettingsWindowTest, LongCreditsKeepTwoLines)
{
    QString longText;
    for (int i = 0; i < 40; ++i)
        longText += QStringLiteral("word%1 ").arg(i);
    longText = longText.trimmed();
    Tips::Document document;
    document.about = MessageSource {{QStringLiteral("en"), longText}};
    Tips::shared().apply(document);
    controller.show();
    auto* credits = child<QLabel>("credits");
    const QString shown = credits->text();
    EXPECT_EQ(shown.count(QLatin1Char('\n')), 1);
    EXPECT_TRUE(longText.startsWith(shown.section(QLatin1Char('\n'), 0, 0)));
    EXPECT_LT(shown.size(), longText.size());
    // What is shown fits the label's two lines.
    const QFontMetrics metrics(credits->font());
    EXPECT_LE(metrics.boundingRect(QRect(0, 0, 392, 1000), Qt::TextWordWrap, shown).height(), 2 * metrics.lineSpacing() + 1);
}

// The support report.

TEST_F(SettingsWindowTest, CopyFeedbackFillsTheClipboardAndSaysSoForASecondAndAHalf)
{
    displays.displays.push_back({1, true, 3024, 1964});
    controller.show();
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(controller.feedbackButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), SupportReport::text());
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(QStringLiteral("\n  - 1 builtin 3024x1964\n")));
    EXPECT_EQ(controller.feedbackButton()->titleStr(), QStringLiteral("Copied to clipboard"));

    ASSERT_TRUE(waitFor([&] { return controller.feedbackButton()->titleStr() != QStringLiteral("Copied to clipboard"); }, 4000));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, 1450);
    EXPECT_EQ(controller.feedbackButton()->titleStr(), QStringLiteral("COPY FEEDBACK FOR SUPPORT"));
}

TEST_F(SettingsWindowTest, TheTitleComesBackInTheLanguageOfThatMoment)
{
    controller.show();
    QTest::mouseClick(controller.feedbackButton(), Qt::LeftButton);
    // The text is set again from the current language; a rebuild in between must not be undone.
    Localization::shared().set(Lang::es);
    controller.feedbackButton()->setTitleStr(QStringLiteral("Copiado al portapapeles"));
    ASSERT_TRUE(waitFor([&] { return controller.feedbackButton()->titleStr() == QStringLiteral("COPIAR INFORME PARA SOPORTE"); }, 4000));
}

// Opening from the application.

TEST(SettingsWindowOpening, TheMenuItemAndThePanelsRequestOpenTheSharedWindow)
{
    FreshSettings settings;
    AppDelegate delegate;
    SettingsWindowController& shared = SettingsWindowController::shared();
    if (shared.window())
        shared.window()->close();

    delegate.openSettings();
    ASSERT_NE(shared.window(), nullptr);
    EXPECT_TRUE(shared.window()->isVisible());
    QWidget* window = shared.window();
    window->close();

    // The panel's settings button: the panel closes, the same window opens.
    delegate.popover()->showRelativeTo(QRect(700, 0, 24, 24));
    ASSERT_TRUE(delegate.popover()->isShown());
    delegate.openSettingsRequested();
    EXPECT_FALSE(delegate.popover()->isShown());
    EXPECT_EQ(shared.window(), window);
    EXPECT_TRUE(window->isVisible());
    window->close();
}
