// The popover panel over its own engine, PWM-safe controller, tips and scheduler, fakes behind them.
#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "engine/WarmthPresets.h"
#include "online/Tips.h"
#include "platform/NotificationCenter.h"
#include "schedule/AppSettings.h"
#include "schedule/Scheduler.h"
#include "system/ConflictDetector.h"
#include "ui/PopoverViewController.h"

#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "FakeRunningApplications.h"
#include "support/LoopbackServer.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QBuffer>
#include <QTest>

namespace {
constexpr DisplayID builtinID = 1, externalID = 2;

using Opt = std::optional<QString>;
TipMessage tip(const QString& text, Opt image, Opt link = {}, Opt color = {}) { return TipMessage {text, color, image, link}; }
void click(QWidget* widget, QPoint at = QPoint()) { QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at); }
QColor textColor(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Localization::shared().set(Lang::en);
        engine.setDisplayServices(&displays);
        pwm.setDisplayServices(&displays);
        pwm.setDDC(nullptr);
        pwm.setSleep([](std::chrono::microseconds) {});
        // As the shell wires it: the panel hears of PWM-safe changes only through the notification.
        pwm.onStateChange = [](PWMState) { NotificationCenter::shared().post(QString::fromLatin1(NotificationName::veskPWMState)); };
        ConflictDetector::setRunningApplications(&apps);
    }
    void TearDown() override
    {
        panel.reset();
        pwm.waitUntilIdle();
        ConflictDetector::setRunningApplications(nullptr);
    }
    PopoverViewController& make(std::optional<float> builtinLevel = {}, bool external = true)
    {
        if (builtinLevel) {
            displays.addDisplay(builtinID, true);
            backlight.panels[builtinID].level = *builtinLevel;
        }
        if (external)
            displays.addDisplay(externalID);
        pwm.setBacklight(backlight.functions());
        panel = std::make_unique<PopoverViewController>(PopoverViewController::Services {
            &engine, &pwm, &tips, &scheduler, [this](const QUrl& url) { opened.push_back(url); }});
        panel->view();
        return *panel;
    }
    FreshSettings settings;
    FakeDisplayServices displays;
    FakeBacklight backlight;
    FakeRunningApplications apps;
    VeskEngine engine;
    PWMSafe pwm;
    Tips tips {QStringLiteral("http://REPLACE.invalid/tips.json")};
    Scheduler scheduler {engine};
    std::vector<QUrl> opened;
    std::unique_ptr<PopoverViewController> panel;
};
}  // namespace

TEST_F(PanelTest, ShowsTheEngineValuesSlidersPresetsAndSwitchesTurnTheFilterOnRefreshingDoesNot)
{
    PopoverViewController& p = make();
    const struct { double warmth; const char* shown; int preset; } cases[] =  // preset highlighted, -1: none
        {{62.5, "62%", 1} /* halves to even */, {WarmthPresets::day() - 1.99, "39%", 0}, {WarmthPresets::day() + 2.0, "43%", -1}};
    for (const auto& c : cases) {
        engine.setWarmth(c.warmth);
        p.refresh();
        EXPECT_EQ(p.warmthValue()->text(), QString::fromLatin1(c.shown));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(p.presets()[i].btn->active(), i == c.preset) << c.warmth << " " << i;
    }
    for (QWidget* w : p.view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const bool inside = w->isHidden() || w == p.filterOffLabel() || w == p.filterOnLabel() || QRect(20, 0, 332, 640).contains(w->geometry());
        EXPECT_TRUE(inside) << w->metaObject()->className();
    }
    EXPECT_EQ(p.presets()[0].btn->titleFont().pointSizeF(), p.warmthLabel()->font().pointSizeF());
    p.warmthSlider()->setValue(30 * VeskSlider::stepsPerUnit);  // as a drag does
    EXPECT_TRUE(engine.warmth() == 30 && displays.tables.count(externalID) && p.themeSwitch()->isOn());
    engine.setEnabled(false);
    p.brightSlider()->setValue(55 * VeskSlider::stepsPerUnit);
    EXPECT_TRUE(engine.enabled());
    QTest::mousePress(p.warmthSlider(), Qt::LeftButton, {}, QPoint(103, 10));  // the knob, at 30 %
    QTest::mouseMove(p.warmthSlider(), QPoint(200, 10));
    EXPECT_GT(engine.warmth(), 50) << "followed while dragging";
    QTest::mouseRelease(p.warmthSlider(), Qt::LeftButton, {}, QPoint(200, 10));
    const double dragged = engine.warmth();
    click(p.warmthSlider(), QPoint(320, 10));  // on the track
    EXPECT_DOUBLE_EQ(engine.warmth(), dragged + 10);  // one page
    engine.setEnabled(false);
    engine.setWarmth(62);
    click(p.presets()[0].btn);
    EXPECT_TRUE(engine.enabled());
    ASSERT_TRUE(waitFor([this] { return engine.warmth() < 58; }));  // mid-way, the slider shows the animation's value
    EXPECT_NEAR(p.warmthSlider()->doubleValue(), engine.warmth(), 0.01);
    ASSERT_TRUE(waitFor([this] { return !engine.isAnimating(); }));
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("41%"));
    panel.reset();  // an animation outliving the panel does no harm
    engine.animateWarmth(10, 0.05);
    EXPECT_TRUE(waitFor([this] { return !engine.isAnimating(); }));
}

TEST_F(PanelTest, FlickerBarFollowsTheBacklightAndPWMSafeAnswersIt)
{
    PopoverViewController& p = make(0.25f, false);
    const QString strong = QStringLiteral("⚠︎ Strong PWM flicker — turn on PWM-Safe");
    const QString possible = QStringLiteral("⚠︎ Possible PWM flicker — turn on PWM-Safe");
    const std::pair<float, QString> cases[] = {{0.0f, strong}, {std::nextafter(0.3f, 0.0f), strong}, {0.3f, possible},
        {std::nextafter(0.6f, 0.0f), possible}, {0.6f, QString()}, {1.0f, QString()}, {0.25f, strong}};
    for (const auto& [level, title] : cases) {
        backlight.panels[builtinID].level = level;
        p.readSystem();
        EXPECT_EQ(p.flickerBar()->isHidden() ? QString() : p.flickerBar()->titleStr(), title) << level;
    }
    click(p.pwmSwitch());  // on at once, the hardware follows off this thread
    EXPECT_TRUE(engine.pwmSafe && engine.enabled());
    EXPECT_TRUE(waitFor([&p] { return p.flickerBar()->isHidden(); }));
}

TEST_F(PanelTest, WithoutABuiltInPanelPWMIsInertAndTheConflictBarNamesTheProgramOrTheDisplay)
{
    backlight.panels[externalID].level = 0.1f;  // an external monitor, no DDC link
    PopoverViewController& p = make();
    EXPECT_TRUE(p.flickerBar()->isHidden());
    click(p.pwmSwitch());
    EXPECT_FALSE(engine.pwmSafe || p.pwmSwitch()->isOn());
    p.view()->show();
    apps.applications = {{QStringLiteral("bash"), {}}, {QStringLiteral("redshift-gtk"), {}}};
    p.tick()->setInterval(10);  // the tick reads the process list
    ASSERT_TRUE(waitFor([&p] { return p.conflictBar()->titleStr() == QStringLiteral("CONFLICT: quit Redshift"); }));
    p.view()->hide();
    apps.applications = {};  // no known program: the display is named
    displays.find(externalID)->result = GammaResult::heldByOther;
    Localization::shared().set(Lang::es);
    engine.setEnabled(true);
    p.readSystem();
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("Otra app cambia sin parar los colores de OUT-2"));
}

TEST_F(PanelTest, TipsArePlainTextInTheFeedsColourWithAPictureBesideAndOpenOrFetchOnlyWebAddresses)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(600, 300, QImage::Format_Mono).save(&buffer, "PNG");
    LoopbackServer server;
    server.route(QStringLiteral("/p.png"), png);
    server.route(QStringLiteral("/text.png"), QByteArray("this is not a picture"));
    PopoverViewController& p = make({}, false);
    const QString text = QStringLiteral("A tip with a picture and words enough for six lines beside it: a good deal taller than the picture, which sits in their middle");
    p.showMessage(tip(text, server.url(QStringLiteral("/p.png"))));
    ASSERT_TRUE(waitFor([&p] { return p.currentImage().has_value(); }));
    EXPECT_EQ(p.currentImage()->size(), QSize(198, 99));  // three times the size shown, no more
    const QRect g = p.tipImageView()->geometry(), t = p.tipLabel()->geometry();
    EXPECT_TRUE(g.left() == 20 && t.left() > g.right() && t.height() > 100);
    EXPECT_NEAR(g.center().y(), t.center().y(), 1);
    for (const QString& bad : {server.url(QStringLiteral("/text.png")), QStringLiteral("file:///etc/hostname"), QStringLiteral("ht tp://127.0.0.1/x.png")}) {
        p.showMessage(tip(QStringLiteral("c"), bad));
        spin(100);
        EXPECT_TRUE(!p.currentImage() && p.tipImageView()->isHidden()) << bad.toStdString();
    }
    p.showMessage(tip(text, server.url(QStringLiteral("/p.png"))));
    EXPECT_FALSE(p.tipImageView()->isHidden());  // from memory
    EXPECT_EQ(server.requests().size(), 2);
    p.view()->show();
    for (const QString& link : {QStringLiteral("https://example.org/more"), QStringLiteral("file:///usr/bin/xterm"), QStringLiteral("javascript:alert(1)")}) {
        p.showMessage(tip(QStringLiteral("<b>Read</b> more"), {}, link, QStringLiteral("#FF3B30")));
        click(p.tipLinkOverlay());
    }
    EXPECT_EQ(opened, (std::vector<QUrl> {QUrl(QStringLiteral("https://example.org/more"))}));
    EXPECT_EQ(p.tipLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(textColor(p.tipLabel()), QColor(255, 59, 48));
    p.showMessage(tip(QStringLiteral("c"), {}, {}, QStringLiteral("#FF3B")));  // not a colour
    EXPECT_EQ(textColor(p.tipLabel()), Theme::veskGray());
}
