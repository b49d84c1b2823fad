// The popover panel over its own engine, PWM-safe controller, tips and scheduler, with fake
// displays, backlight and process list behind them: what it does when the user acts.
#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "engine/WarmthPresets.h"
#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "schedule/Scheduler.h"
#include "system/ConflictDetector.h"
#include "ui/Popover.h"
#include "ui/PopoverViewController.h"

#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "FakeRunningApplications.h"
#include "Pixels.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QTest>

namespace {

constexpr DisplayID builtinID = 1;
constexpr DisplayID externalID = 2;

TipMessage tip(const QString& text, std::optional<QString> image = {}, std::optional<QString> link = {}, std::optional<QString> color = {})
{
    return TipMessage {text, std::move(color), std::move(image), std::move(link)};
}
void click(QWidget* widget, QPoint at = QPoint()) { QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at); }
QColor textColor(const QLabel* label) { return label->palette().color(QPalette::WindowText); }
RunningApplication app(const char* name) { return RunningApplication {QString::fromLatin1(name), std::nullopt}; }

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Localization::shared().set(Lang::en);
        engine.setDisplayServices(&displays);
        pwm.setDisplayServices(&displays);
        pwm.setDDC(nullptr);
        pwm.setSleep([](std::chrono::microseconds) {});
        // The panel hears of PWM-safe state changes the way the shell wires it.
        pwm.onStateChange = [](PWMState) { NotificationCenter::shared().post(QString::fromLatin1(NotificationName::veskPWMState)); };
        ConflictDetector::setRunningApplications(&apps);
        tips.setCachePath(dir.path() + QStringLiteral("/tips.json"));
        Tips::Document document;  // two tips, no promotional lines
        document.tips = {{{QStringLiteral("en"), QStringLiteral("One")}, {QStringLiteral("es"), QStringLiteral("Uno")}}, {{QStringLiteral("en"), QStringLiteral("Two")}}};
        document.ads = QList<MessageSource> {};
        tips.apply(document);
    }
    void TearDown() override
    {
        panel.reset();
        pwm.waitUntilIdle();
        ConflictDetector::setRunningApplications(nullptr);
        Localization::shared().set(Lang::en);
    }
    void builtinAt(float level)
    {
        displays.addDisplay(builtinID, true);
        backlight.panels[builtinID].level = level;
        pwm.setBacklight(backlight.functions());
    }
    PopoverViewController& make()
    {
        panel = std::make_unique<PopoverViewController>(PopoverViewController::Services {
            &engine, &pwm, &tips, &scheduler, [this](const QUrl& url) { opened.push_back(url); }});
        panel->onPreferredContentSizeChange = [this](QSize size) { sizes.push_back(size); };
        panel->view();
        return *panel;
    }

    FreshSettings settings;
    QTemporaryDir dir;
    FakeDisplayServices displays;
    FakeBacklight backlight;
    FakeRunningApplications apps;
    VeskEngine engine;
    PWMSafe pwm;
    Tips tips {QStringLiteral("http://REPLACE.invalid/tips.json")};
    Scheduler scheduler {engine};
    std::vector<QUrl> opened;
    std::vector<QSize> sizes;
    std::unique_ptr<PopoverViewController> panel;
};

}  // namespace

TEST_F(PanelTest, ShowsTheEngineValuesAndHighlightsTheNearPreset)
{
    PopoverViewController& p = make();
    const struct {
        double warmth;
        const char* shown;
        int preset;  // highlighted, -1: none
    } cases[] = {{62.5, "62%", 1} /* halves to even */, {63.5, "64%", 1}, {51, "51%", -1}, {WarmthPresets::day() - 1.99, "39%", 0},
        {WarmthPresets::day() + 2.0, "43%", -1} /* exactly 2 away */, {98.5, "98%", 2}};
    for (const auto& c : cases) {
        engine.setWarmth(c.warmth);
        p.refresh();
        EXPECT_EQ(p.warmthValue()->text(), QString::fromLatin1(c.shown));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(p.presets()[i].btn->active(), i == c.preset) << c.warmth << " " << i;
    }
    EXPECT_TRUE(p.flags()[1].btn->active() && !p.flags()[0].btn->active() && !p.flags()[2].btn->active());
    // Nothing reaches past the panel's 20-pixel margins, and the presets speak in the captions' type.
    for (QWidget* w : p.view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const bool inside = w->isHidden() || w == p.filterOffLabel() || w == p.filterOnLabel() || QRect(20, 0, 332, 640).contains(w->geometry());
        EXPECT_TRUE(inside) << w->metaObject()->className();
    }
    EXPECT_EQ(p.presets()[0].btn->titleFont().pointSizeF(), p.warmthLabel()->font().pointSizeF());
}

TEST_F(PanelTest, MovingASliderOrAPresetTurnsTheFilterOnRefreshingDoesNot)
{
    displays.addDisplay(externalID);
    PopoverViewController& p = make();
    engine.setWarmth(70);
    p.refresh();
    EXPECT_TRUE(displays.tables.empty());
    p.warmthSlider()->setValue(30 * VeskSlider::stepsPerUnit);  // as a drag does
    EXPECT_DOUBLE_EQ(engine.warmth(), 30);
    EXPECT_TRUE(displays.tables.count(externalID) && p.themeSwitch()->isOn());
    engine.setEnabled(false);
    p.brightSlider()->setValue(55 * VeskSlider::stepsPerUnit);
    EXPECT_TRUE(engine.enabled());
    EXPECT_DOUBLE_EQ(engine.brightness(), 55);
    EXPECT_EQ(p.brightValue()->text(), QStringLiteral("55%"));
    QTest::mousePress(p.warmthSlider(), Qt::LeftButton, {}, QPoint(103, 10));  // the knob, at 30 %
    QTest::mouseMove(p.warmthSlider(), QPoint(200, 10));
    EXPECT_GT(engine.warmth(), 50) << "followed while dragging";
    QTest::mouseRelease(p.warmthSlider(), Qt::LeftButton, {}, QPoint(200, 10));
    engine.setEnabled(false);
    const double dragged = engine.warmth();
    click(p.warmthSlider(), QPoint(320, 10));  // on the track
    EXPECT_TRUE(engine.enabled());
    EXPECT_GT(engine.warmth(), dragged);
    AppSettings::setExtremeDim(true);  // the floor follows the settings; the top stays
    EXPECT_EQ(p.brightSlider()->doubleMinimum(), 1);
    EXPECT_EQ(p.brightSlider()->doubleMaximum(), 100);

    engine.setEnabled(false);
    engine.setWarmth(62);
    click(p.presets()[0].btn);
    EXPECT_TRUE(engine.enabled());
    int seen = 0;  // mid-way, the slider shows the animation's value
    ASSERT_TRUE(waitFor([&] {
        if (engine.isAnimating() && engine.warmth() > 45 && engine.warmth() < 58) {
            ++seen;
            EXPECT_NEAR(p.warmthSlider()->doubleValue(), engine.warmth(), 0.01);
        }
        return !engine.isAnimating();
    }));
    EXPECT_GT(seen, 0);
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("41%"));
    EXPECT_TRUE(p.presets()[0].btn->active());
    panel.reset();  // an animation outliving the panel does no harm
    engine.animateWarmth(10, 0.05);
    EXPECT_TRUE(waitFor([this] { return !engine.isAnimating(); }));
}

TEST_F(PanelTest, DayNightAndScheduleSwitchesAndTheSettingsButton)
{
    displays.addDisplay(externalID);
    PopoverViewController& p = make();
    EXPECT_EQ(textColor(p.filterOffLabel()), Theme::veskWhite());
    click(p.themeSwitch());
    EXPECT_TRUE(displays.tables.count(externalID));
    EXPECT_TRUE(p.themeSwitch()->isAnimating());  // the refresh left the click's animation alone
    EXPECT_EQ(p.tipLabel()->text(), tips.activationMessage()->text);
    EXPECT_EQ(textColor(p.tipLabel()), QColor(0x7F, 0xB3, 0xFF));
    EXPECT_EQ(textColor(p.filterOffLabel()), Theme::veskGray());
    EXPECT_EQ(textColor(p.filterOnLabel()), Theme::veskWhite());
    click(p.themeSwitch());
    EXPECT_TRUE(displays.tables.empty());
    EXPECT_EQ(p.tipLabel()->text(), tips.activationMessage()->text);  // switching off shows nothing new
    engine.setEnabled(true);  // behind the panel's back: the switch jumps
    p.refresh();
    EXPECT_EQ(p.themeSwitch()->progress(), 1.0);

    click(p.autoSwitch());
    EXPECT_TRUE(AppSettings::autoSchedule() && scheduler.isRunning());
    click(p.autoSwitch());
    EXPECT_FALSE(scheduler.isRunning());
    AppSettings::setAutoSchedule(true);  // from the settings window
    EXPECT_TRUE(p.autoSwitch()->isOn());
    QObject context;
    int asked = 0;
    NotificationCenter::shared().addObserver(QString::fromLatin1(NotificationName::veskOpenSettings), &context, [&asked] { ++asked; });
    click(p.settingsButton());
    EXPECT_EQ(asked, 1);
}

TEST_F(PanelTest, FlickerBarFollowsTheBacklightAndPWMSafeAnswersIt)
{
    builtinAt(0.25f);
    PopoverViewController& p = make();
    const QString strong = QStringLiteral("⚠︎ Strong PWM flicker — turn on PWM-Safe");
    const QString possible = QStringLiteral("⚠︎ Possible PWM flicker — turn on PWM-Safe");
    const std::pair<float, QString> cases[] = {{0.0f, strong}, {std::nextafter(0.3f, 0.0f), strong}, {0.3f, possible},
        {std::nextafter(0.6f, 0.0f), possible}, {0.6f, QString()}, {1.0f, QString()}, {0.25f, strong}};
    for (const auto& [level, title] : cases) {
        backlight.panels[builtinID].level = level;
        p.readSystem();
        EXPECT_EQ(p.flickerBar()->isHidden() ? QString() : p.flickerBar()->titleStr(), title) << level;
    }
    // Both bars take the tip's place, one below the other; the panel is told once per change.
    EXPECT_TRUE(p.tipLabel()->isHidden() && p.tipLinkOverlay()->isHidden());
    apps.applications = {RunningApplication {std::nullopt, QStringLiteral("com.example.Lunar")}};
    sizes.clear();
    p.readSystem();
    p.readSystem();
    EXPECT_EQ(sizes, std::vector<QSize> {QSize(372, 624)});
    EXPECT_EQ(p.conflictBar()->geometry(), QRect(20, 590, 332, 24));

    click(p.pwmSwitch());  // on at once, the hardware follows off this thread
    EXPECT_TRUE(engine.pwmSafe && engine.enabled());
    ASSERT_TRUE(waitFor([&p] { return p.flickerBar()->isHidden(); }));  // nothing left to warn about
    EXPECT_FLOAT_EQ(backlight.level(builtinID), 1.0f);
    EXPECT_EQ(p.conflictBar()->geometry(), QRect(20, 560, 332, 24));
    EXPECT_EQ(p.preferredContentSize(), QSize(372, 594));
    click(p.pwmSwitch());
    ASSERT_TRUE(waitFor([this] { return pwm.state() == PWMState::off; }));
    EXPECT_FLOAT_EQ(backlight.level(builtinID), 0.25f);
    engine.setEnabled(false);
    p.readSystem();
    p.view()->show();  // a real click needs the bar on screen
    click(p.flickerBar());
    EXPECT_TRUE(p.pwmSwitch()->isOn() && engine.pwmSafe && engine.enabled());
    EXPECT_TRUE(waitFor([this] { return pwm.state() == PWMState::active; }));
}

TEST_F(PanelTest, WithoutABuiltInPanelPWMIsInertAndTheConflictBarNamesTheProgramOrTheDisplay)
{
    displays.addDisplay(externalID);  // an external monitor, no DDC link
    backlight.panels[externalID].level = 0.1f;
    pwm.setBacklight(backlight.functions());
    PopoverViewController& p = make();
    EXPECT_TRUE(p.flickerBar()->isHidden());
    EXPECT_EQ(textColor(p.pwmLabel()), Theme::veskGray());
    click(p.pwmSwitch());
    EXPECT_FALSE(engine.pwmSafe || p.pwmSwitch()->isOn());
    pwm.enable();  // asked for anyway: nothing answers
    engine.pwmSafe = true;
    p.refresh();
    EXPECT_EQ(p.pwmLabel()->text(), QStringLiteral("PWM-SAFE MODE \u00B7 UNAVAILABLE"));

    p.view()->show();
    apps.applications = {app("bash"), app("redshift-gtk")};
    p.tick()->setInterval(10);  // the tick reads the process list
    ASSERT_TRUE(waitFor([&p] { return !p.conflictBar()->isHidden(); }));
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("CONFLICT: quit Redshift"));
    click(p.conflictBar());  // not a button
    EXPECT_FALSE(engine.enabled());
    Localization::shared().set(Lang::es);
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("CONFLICTO: cierra Redshift"));
    p.view()->hide();
    apps.applications.clear();
    displays.find(externalID)->result = GammaResult::heldByOther;
    engine.setEnabled(true);
    p.readSystem();
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("Otra app cambia sin parar los colores de OUT-2"));
    apps.applications = {app("gammastep")};
    Localization::shared().set(Lang::en);
    p.readSystem();
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("Gammastep keeps changing the colours of OUT-2"));
}

TEST_F(PanelTest, TipPictureIsShownBesideTheTextKeptSmallAndFetchedOnlyFromTheWeb)
{
    QImage picture(600, 300, QImage::Format_RGB32);
    picture.fill(QColor(20, 160, 90));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    LoopbackServer server;
    server.route(QStringLiteral("/p.png"), png);
    server.route(QStringLiteral("/text.png"), QByteArray("this is not a picture"));
    PopoverViewController& p = make();
    const QString text = QStringLiteral("A tip with a picture and words enough for six lines beside it: a good deal taller than the picture, which sits in their middle");
    p.showMessage(tip(text, server.url(QStringLiteral("/p.png"))));
    ASSERT_TRUE(waitFor([&p] { return p.currentImage().has_value(); }));
    EXPECT_EQ(p.currentImage()->size(), QSize(198, 99));  // three times the size shown, no more
    const QRect g = p.tipImageView()->geometry();
    const QRect t = p.tipLabel()->geometry();
    EXPECT_EQ(g, QRect(20, g.y(), 66, 66));
    EXPECT_TRUE(t.left() > g.right() && t.height() > 100);
    EXPECT_NEAR(g.center().y(), t.center().y(), 1);  // centred on the text beside it
    EXPECT_EQ(p.view()->height(), t.bottom() + 1 + 10);
    EXPECT_TRUE(colorNear(at(snapshot(*p.view()), g.left() + 3, g.center().y()), QColor(20, 160, 90)));

    for (const QString& bad : {server.url(QStringLiteral("/text.png")), QStringLiteral("http://"), QStringLiteral("file:///etc/hostname"),
             QStringLiteral("ht tp://127.0.0.1/x.png"), QString()}) {
        p.showMessage(tip(QStringLiteral("c"), bad));
        spin(100);
        EXPECT_TRUE(!p.currentImage() && p.tipImageView()->isHidden()) << bad.toStdString();
    }
    p.showMessage(tip(text, server.url(QStringLiteral("/p.png"))));
    EXPECT_FALSE(p.tipImageView()->isHidden());  // from memory
    EXPECT_EQ(server.requests().size(), 2);  // nothing fetched twice, or for what is not a web address
}

TEST_F(PanelTest, TipTextIsPlainInTheFeedsColourAndItsLinkOpensOnlyWebAddresses)
{
    PopoverViewController& p = make();
    p.view()->show();
    QLabel* label = p.tipLabel();
    for (const QString& link : {QStringLiteral("https://example.org/more"), QString(), QStringLiteral("file:///usr/bin/xterm"),
             QStringLiteral("not a url"), QStringLiteral("javascript:alert(1)")}) {
        p.showMessage(tip(QStringLiteral("<b>Read</b> more"), {}, link.isNull() ? std::nullopt : std::optional(link), QStringLiteral("#FF3B30")));
        EXPECT_EQ(p.tipLinkOverlay()->geometry(), label->geometry());
        click(p.tipLinkOverlay());
    }
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(textColor(label), QColor(255, 59, 48));
    p.showMessage(tip(QStringLiteral("A rather long tip that certainly needs more than one line to fit in the panel"), {}, {}, QStringLiteral("#FF3B")));
    EXPECT_EQ(textColor(label), Theme::veskGray());
    EXPECT_GE(label->height(), label->heightForWidth(332));  // nothing cut off
    EXPECT_EQ(p.view()->height(), 560 + label->height() + 10);
    const QUrl feeds(*tips.aboutInfo().url);  // the author link: the feed's address, or the fixed default
    click(p.authorLink());
    Tips::Document document;
    document.about = MessageSource {{QStringLiteral("en"), QStringLiteral("Thanks")}};
    tips.apply(document);
    p.relocalize();
    click(p.authorLink());
    EXPECT_EQ(opened, (std::vector<QUrl> {QUrl(QStringLiteral("https://example.org/more")), feeds,
                          QUrl(QString::fromLatin1(PopoverViewController::defaultAuthorURL))}));
}

TEST_F(PanelTest, InThePopupTimersRunWhileOpenAndALanguageChangeRebuildsInPlace)
{
    displays.addDisplay(externalID);
    Popover popover;
    PopoverViewController& p = make();
    popover.setContentWidget(p.view());
    p.onPreferredContentSizeChange = [&popover](QSize size) { popover.setContentSize(size); };
    EXPECT_EQ(p.tick(), nullptr);
    popover.showRelativeTo(QRect(500, 0, 24, 24));
    EXPECT_TRUE(p.tipTimer() && p.tipTimer()->isActive());
    engine.setWarmth(80);  // nothing tells the panel; its tick shows it
    engine.setEnabled(true);
    p.tick()->setInterval(10);
    EXPECT_TRUE(waitFor([&p] { return p.warmthValue()->text() == QStringLiteral("80%"); }));

    const auto widgets = p.view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size();
    QPointer<VeskFlatButton> oldPreset = p.presets()[0].btn;
    click(p.flags()[0].btn);  // Spanish, from inside the click that asked for it
    EXPECT_EQ(p.view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), widgets);
    EXPECT_EQ(p.presets()[2].btn->titleStr(), QStringLiteral("NOCHE"));
    EXPECT_EQ(p.filterOnLabel()->text(), QStringLiteral("Filtro\nencendido"));
    EXPECT_TRUE(p.tipLabel()->text() == QStringLiteral("Uno") || p.tipLabel()->text() == QStringLiteral("Two"));
    EXPECT_NEAR(p.warmthSlider()->doubleValue(), 80, 0.01);
    EXPECT_EQ(p.themeSwitch()->progress(), 1.0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(oldPreset.isNull());

    apps.applications = {app("gammy")};
    p.readSystem();
    EXPECT_EQ(popover.size(), QSize(372, 594));  // the popup takes the panel's new height
    popover.performClose();
    EXPECT_TRUE(p.tick() == nullptr && p.tipTimer() == nullptr);
}
