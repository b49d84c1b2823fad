// What the panel does: the services it drives, the warning bars, timers, the tip area with
// its downloaded images, and rebuilding on a language change.

#include "PanelFixture.h"
#include "Pixels.h"
#include "support/LoopbackServer.h"

#include "engine/WarmthPresets.h"
#include "schedule/AppSettings.h"
#include "ui/Popover.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QRandomGenerator>
#include <QTest>

#include <mutex>
#include <set>

namespace {

QByteArray png(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A picture of noise: its PNG does not compress below the size of the pixels.
QByteArray noisePng(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, random.generate() | 0xFF000000u);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

TipMessage tip(const QString& text, std::optional<QString> image = std::nullopt, std::optional<QString> link = std::nullopt,
    std::optional<QString> color = std::nullopt)
{
    return TipMessage {text, std::move(color), std::move(image), std::move(link)};
}

int textHeightAt(const QLabel* label, int width, int alignment)
{
    const QRectF r = QFontMetricsF(label->font()).boundingRect(QRectF(0, 0, width, 1e6), alignment | Qt::TextWordWrap, label->text());
    return static_cast<int>(std::ceil(r.height())) + 4;
}

void click(QWidget* widget, QPoint at = QPoint())
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
}

int flatButtons(QWidget* root)
{
    return static_cast<int>(root->findChildren<VeskFlatButton*>(Qt::FindDirectChildrenOnly).size());
}

}  // namespace

// --- values and the services the controls drive ---

TEST_F(PanelTest, ShowsTheEngineValuesAndHighlightsTheNearPreset)
{
    PopoverViewController& p = make();
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("62%"));
    EXPECT_EQ(p.brightValue()->text(), QStringLiteral("100%"));
    EXPECT_EQ(PopoverViewController::percentText(62.4), QStringLiteral("62%"));
    EXPECT_EQ(PopoverViewController::percentText(99.6), QStringLiteral("100%"));
    // printf's rounding of halves, to even.
    EXPECT_EQ(PopoverViewController::percentText(62.5), QStringLiteral("62%"));
    EXPECT_EQ(PopoverViewController::percentText(63.5), QStringLiteral("64%"));

    auto actives = [&p] {
        std::vector<bool> out;
        for (const auto& preset : p.presets())
            out.push_back(preset.btn->active());
        return out;
    };
    EXPECT_EQ(actives(), (std::vector<bool> {false, true, false}));  // 62 is within 2 of 62.18
    engine.setWarmth(51);  // between 4000 K and 2700 K, far from both
    p.refresh();
    EXPECT_EQ(actives(), (std::vector<bool> {false, false, false}));
    engine.setWarmth(WarmthPresets::day() - 1.99);
    p.refresh();
    EXPECT_EQ(actives(), (std::vector<bool> {true, false, false}));
    engine.setWarmth(WarmthPresets::day() + 2.0);  // exactly 2 away: not near
    p.refresh();
    EXPECT_EQ(actives(), (std::vector<bool> {false, false, false}));
    engine.setWarmth(98.5);
    p.refresh();
    EXPECT_EQ(actives(), (std::vector<bool> {false, false, true}));
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("98%"));
    EXPECT_NEAR(p.warmthSlider()->doubleValue(), 98.5, 0.01);
    engine.setWarmth(98.51);
    p.refresh();
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("99%"));

    // Only the current language's flag is marked.
    EXPECT_FALSE(p.flags()[0].btn->active());
    EXPECT_TRUE(p.flags()[1].btn->active());
    EXPECT_FALSE(p.flags()[2].btn->active());
}

TEST_F(PanelTest, RefreshFromCodeDoesNotMoveTheEngine)
{
    displays.addDisplay(externalID);
    PopoverViewController& p = make();
    engine.setWarmth(70);
    const int writes = displays.writes;
    p.refresh();
    EXPECT_FALSE(engine.enabled());
    EXPECT_EQ(engine.warmth(), 70);
    EXPECT_EQ(displays.writes, writes);
}

TEST_F(PanelTest, MovingEitherSliderTurnsTheFilterOn)
{
    displays.addDisplay(externalID);
    PopoverViewController& p = make();
    ASSERT_FALSE(engine.enabled());
    // As a drag does: the slider's value changes under the user's hand.
    p.warmthSlider()->setValue(30 * VeskSlider::stepsPerUnit);
    EXPECT_TRUE(engine.enabled());
    EXPECT_DOUBLE_EQ(engine.warmth(), 30);
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("30%"));
    EXPECT_TRUE(displays.tables.count(externalID));
    EXPECT_TRUE(p.themeSwitch()->isOn());

    engine.setEnabled(false);
    p.refresh();
    p.brightSlider()->setValue(55 * VeskSlider::stepsPerUnit);
    EXPECT_TRUE(engine.enabled());
    EXPECT_DOUBLE_EQ(engine.brightness(), 55);
    EXPECT_EQ(p.brightValue()->text(), QStringLiteral("55%"));

    // A click on the track moves it too.
    engine.setEnabled(false);
    p.refresh();
    const double before = engine.warmth();
    click(p.warmthSlider(), QPoint(320, 10));
    EXPECT_TRUE(engine.enabled());
    EXPECT_GT(engine.warmth(), before);
}

TEST_F(PanelTest, DraggingReadsNoProcessesNoBacklightAndNoDisplayList)
{
    builtinAt(0.45f);
    displays.addDisplay(externalID);
    apps.applications = {RunningApplication {QStringLiteral("redshift"), std::nullopt}};
    PopoverViewController& p = make();
    p.view()->show();
    ASSERT_FALSE(p.conflictBar()->isHidden());
    ASSERT_FALSE(p.flickerBar()->isHidden());
    // What one warmth change costs the engine alone, filter on.
    engine.setEnabled(true);
    int lists = displays.listCalls;
    engine.setWarmth(1);
    const int engineLists = displays.listCalls - lists;

    const int reads = apps.reads;
    const int gets = backlight.gets;
    const int writes = displays.writes;
    lists = displays.listCalls;
    // End to end, the way a drag moves the slider: one step per value.
    for (int warmth = 2; warmth <= 100; ++warmth)
        p.warmthSlider()->setValue(warmth * VeskSlider::stepsPerUnit);
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("100%"));
    EXPECT_EQ(apps.reads, reads);
    EXPECT_EQ(backlight.gets, gets);
    EXPECT_EQ(displays.listCalls - lists, 99 * engineLists);
    EXPECT_EQ(displays.writes - writes, 99 * 2);  // one gamma write per display and step
    // The bars still show what was read.
    EXPECT_FALSE(p.conflictBar()->isHidden());
    EXPECT_FALSE(p.flickerBar()->isHidden());

    // The tick reads again.
    apps.applications.clear();
    ASSERT_NE(p.tick(), nullptr);
    p.tick()->setInterval(10);
    EXPECT_TRUE(waitFor([&p] { return p.conflictBar()->isHidden(); }));
    EXPECT_GT(apps.reads, reads);
    p.view()->hide();
}

TEST_F(PanelTest, BrightnessFloorFollowsTheSettings)
{
    PopoverViewController& p = make();
    EXPECT_EQ(p.brightSlider()->doubleMinimum(), 10);
    EXPECT_EQ(p.brightSlider()->doubleMaximum(), 100);
    AppSettings::setExtremeDim(true);
    EXPECT_EQ(p.brightSlider()->doubleMinimum(), 1);
    AppSettings::setExtremeDim(false);
    EXPECT_EQ(p.brightSlider()->doubleMinimum(), 10);
}

TEST_F(PanelTest, PresetAnimatesTheEngineAndTheSliderFollows)
{
    displays.addDisplay(externalID);
    PopoverViewController& p = make();
    ASSERT_FALSE(engine.enabled());
    click(p.presets()[0].btn);
    EXPECT_TRUE(engine.enabled());  // through the animation
    EXPECT_TRUE(engine.isAnimating());

    // Mid-way, the slider and the number show the animation's value.
    std::vector<double> seen;
    ASSERT_TRUE(waitFor([&] {
        if (engine.isAnimating() && engine.warmth() < 61 && engine.warmth() > 42) {
            seen.push_back(p.warmthSlider()->doubleValue());
            EXPECT_NEAR(p.warmthSlider()->doubleValue(), engine.warmth(), 0.01);
            EXPECT_EQ(p.warmthValue()->text(), PopoverViewController::percentText(engine.warmth()));
        }
        return !engine.isAnimating();
    }));
    EXPECT_FALSE(seen.empty());
    EXPECT_NEAR(engine.warmth(), WarmthPresets::day(), 1e-9);
    EXPECT_NEAR(p.warmthSlider()->doubleValue(), WarmthPresets::day(), 0.01);
    EXPECT_TRUE(p.presets()[0].btn->active());
    EXPECT_FALSE(p.presets()[1].btn->active());
}

TEST_F(PanelTest, DayNightSwitchTogglesTheFilterAndShowsTheActivationMessage)
{
    displays.addDisplay(externalID);
    PopoverViewController& p = make();
    EXPECT_TRUE(colorNear(p.filterOffLabel()->palette().color(QPalette::WindowText), Theme::veskWhite(), 0));
    EXPECT_TRUE(colorNear(p.filterOnLabel()->palette().color(QPalette::WindowText), Theme::veskGray(), 0));

    click(p.themeSwitch());
    EXPECT_TRUE(engine.enabled());
    EXPECT_TRUE(displays.tables.count(externalID));
    EXPECT_TRUE(p.themeSwitch()->isOn());
    EXPECT_TRUE(p.themeSwitch()->isAnimating());  // the refresh left the click's animation alone
    EXPECT_EQ(p.tipLabel()->text(), tips.activationMessage()->text);
    EXPECT_TRUE(colorNear(p.tipLabel()->palette().color(QPalette::WindowText), QColor(0x7F, 0xB3, 0xFF), 0));
    EXPECT_EQ(p.currentLinkURL(), tips.activationMessage()->linkURL);
    EXPECT_TRUE(colorNear(p.filterOffLabel()->palette().color(QPalette::WindowText), Theme::veskGray(), 0));
    EXPECT_TRUE(colorNear(p.filterOnLabel()->palette().color(QPalette::WindowText), Theme::veskWhite(), 0));

    const QString before = p.tipLabel()->text();
    click(p.themeSwitch());
    EXPECT_FALSE(engine.enabled());
    EXPECT_TRUE(displays.tables.empty());
    EXPECT_EQ(p.tipLabel()->text(), before);  // switching off shows nothing new

    // Changed behind the panel's back: the next refresh jumps the switch without animating.
    engine.setEnabled(true);
    p.refresh();
    EXPECT_TRUE(p.themeSwitch()->isOn());
    EXPECT_EQ(p.themeSwitch()->progress(), 1.0);
}

TEST_F(PanelTest, ScheduleSwitchStoresTheChoiceAndRestartsTheScheduler)
{
    displays.addDisplay(externalID);
    PopoverViewController& p = make();
    EXPECT_FALSE(p.autoSwitch()->isOn());
    click(p.autoSwitch());
    EXPECT_TRUE(AppSettings::autoSchedule());
    EXPECT_TRUE(scheduler.isRunning());
    EXPECT_GE(scheduler.lastWarmth(), 0);
    EXPECT_TRUE(engine.enabled());
    click(p.autoSwitch());
    EXPECT_FALSE(AppSettings::autoSchedule());
    EXPECT_FALSE(scheduler.isRunning());
    // Set elsewhere (the settings window), the switch follows.
    AppSettings::setAutoSchedule(true);
    EXPECT_TRUE(p.autoSwitch()->isOn());
}

TEST_F(PanelTest, SettingsButtonAsksForTheSettingsWindow)
{
    PopoverViewController& p = make();
    QObject context;
    int asked = 0;
    NotificationCenter::shared().addObserver(QString::fromLatin1(NotificationName::veskOpenSettings), &context, [&asked] { ++asked; });
    click(p.settingsButton());
    EXPECT_EQ(asked, 1);
}

// --- PWM-safe mode ---

namespace {

// Records, for every backlight call, whether it ran on the main thread.
struct ThreadRecorder {
    std::mutex mutex;
    std::set<bool> onMain;
    Backlight wrap(const Backlight& inner)
    {
        Backlight b = inner;
        b.setBrightness = [this, f = inner.setBrightness](DisplayID d, float level) {
            note();
            return f(d, level);
        };
        return b;
    }
    void note()
    {
        std::lock_guard lock(mutex);
        onMain.insert(QThread::currentThread() == qApp->thread());
    }
};

}  // namespace

TEST_F(PanelTest, PWMSwitchEnablesAndDisablesOffTheMainThread)
{
    builtinAt(0.4f);
    ThreadRecorder threads;
    pwm.setBacklight(threads.wrap(backlight.functions()));
    PopoverViewController& p = make();
    ASSERT_TRUE(p.pwmSwitch()->isEnabled());
    EXPECT_TRUE(colorNear(p.pwmLabel()->palette().color(QPalette::WindowText), Theme::veskWhite(), 0));

    click(p.pwmSwitch());
    EXPECT_TRUE(engine.pwmSafe);
    EXPECT_TRUE(engine.enabled());  // at once, not after the hardware
    ASSERT_TRUE(waitFor([this] { return pwm.state() == PWMState::active; }));
    EXPECT_FLOAT_EQ(backlight.level(builtinID), 1.0f);

    click(p.pwmSwitch());
    EXPECT_FALSE(engine.pwmSafe);
    ASSERT_TRUE(waitFor([this] { return pwm.state() == PWMState::off; }));
    EXPECT_FLOAT_EQ(backlight.level(builtinID), 0.4f);
    pwm.waitUntilIdle();
    EXPECT_EQ(threads.onMain, (std::set<bool> {false}));
}

TEST_F(PanelTest, PWMSwitchIsGreyAndInertWithoutAnythingToPin)
{
    displays.addDisplay(externalID);  // an external monitor, no DDC link
    PopoverViewController& p = make();
    EXPECT_FALSE(p.pwmSwitch()->isEnabled());
    EXPECT_TRUE(colorNear(p.pwmLabel()->palette().color(QPalette::WindowText), Theme::veskGray(), 0));
    click(p.pwmSwitch());
    EXPECT_FALSE(engine.pwmSafe);
    EXPECT_FALSE(p.pwmSwitch()->isOn());
}

TEST_F(PanelTest, PWMLabelShowsWaitingAndUnavailable)
{
    // Unsupported: asked for, but nothing answered.
    pwm.enable();
    ASSERT_EQ(pwm.state(), PWMState::unsupported);
    PopoverViewController& p = make();
    EXPECT_EQ(p.pwmLabel()->text(), QStringLiteral("PWM-SAFE MODE"));  // the flag is off
    engine.pwmSafe = true;
    p.refresh();
    EXPECT_EQ(p.pwmLabel()->text(), QStringLiteral("PWM-SAFE MODE \u00B7 UNAVAILABLE"));
    EXPECT_TRUE(p.pwmSwitch()->isOn());

    // Waiting: the hardware has not settled yet.
    builtinAt(0.5f);
    std::mutex gate;
    gate.lock();
    pwm.setSleep([&gate](std::chrono::microseconds) {
        gate.lock();
        gate.unlock();
    });
    pwm.enableInBackground();
    ASSERT_TRUE(waitFor([this] { return pwm.state() == PWMState::waiting; }));
    p.refresh();
    EXPECT_EQ(p.pwmLabel()->text(), QStringLiteral("PWM-SAFE MODE \u00B7 WAITING FOR DISPLAY"));
    gate.unlock();
    // The controller's state change refreshes the panel.
    ASSERT_TRUE(waitFor([&p] { return p.pwmLabel()->text() == QStringLiteral("PWM-SAFE MODE"); }));
    EXPECT_EQ(pwm.state(), PWMState::active);
}

// --- warning bars ---

TEST_F(PanelTest, FlickerBarFollowsTheBacklightLevel)
{
    builtinAt(0.25f);
    PopoverViewController& p = make();
    ASSERT_FALSE(p.flickerBar()->isHidden());
    EXPECT_EQ(p.flickerBar()->titleStr(), QStringLiteral("⚠︎ Strong PWM flicker — turn on PWM-Safe"));

    struct Case {
        float level;
        const char* title;  // none: no bar
    };
    const Case cases[] = {
        {0.0f, "⚠︎ Strong PWM flicker — turn on PWM-Safe"},
        {std::nextafter(0.3f, 0.0f), "⚠︎ Strong PWM flicker — turn on PWM-Safe"},
        {0.3f, "⚠︎ Possible PWM flicker — turn on PWM-Safe"},
        {0.45f, "⚠︎ Possible PWM flicker — turn on PWM-Safe"},
        {std::nextafter(0.6f, 0.0f), "⚠︎ Possible PWM flicker — turn on PWM-Safe"},
        {0.6f, nullptr},
        {0.75f, nullptr},
        {1.0f, nullptr},
    };
    for (const Case& c : cases) {
        backlight.panels[builtinID].level = c.level;
        p.readSystem();
        if (c.title) {
            EXPECT_FALSE(p.flickerBar()->isHidden()) << c.level;
            EXPECT_EQ(p.flickerBar()->titleStr(), QString::fromUtf8(c.title)) << c.level;
        } else {
            EXPECT_TRUE(p.flickerBar()->isHidden()) << c.level;
        }
    }

    // With PWM-safe on there is nothing to warn about.
    backlight.panels[builtinID].level = 0.25f;
    engine.pwmSafe = true;
    p.readSystem();
    EXPECT_TRUE(p.flickerBar()->isHidden());
}

TEST_F(PanelTest, NoFlickerBarWithoutABuiltInDisplay)
{
    displays.addDisplay(externalID);
    backlight.panels[externalID].level = 0.1f;  // a backlight, but on no built-in panel
    pwm.setBacklight(backlight.functions());
    PopoverViewController& p = make();
    EXPECT_TRUE(p.flickerBar()->isHidden());
}

TEST_F(PanelTest, FlickerBarClickTurnsOnPWMSafe)
{
    builtinAt(0.25f);
    PopoverViewController& p = make();
    ASSERT_FALSE(p.flickerBar()->isHidden());
    p.view()->show();  // a real click needs the bar on screen
    click(p.flickerBar());
    EXPECT_TRUE(p.pwmSwitch()->isOn());
    EXPECT_TRUE(engine.pwmSafe);
    EXPECT_TRUE(engine.enabled());
    EXPECT_TRUE(p.flickerBar()->isHidden());
    ASSERT_TRUE(waitFor([this] { return pwm.state() == PWMState::active; }));
    EXPECT_FLOAT_EQ(backlight.level(builtinID), 1.0f);
    p.view()->hide();
}

TEST_F(PanelTest, ConflictBarNamesTheProgramAndIgnoresClicks)
{
    PopoverViewController& p = make();
    EXPECT_TRUE(p.conflictBar()->isHidden());
    apps.applications = {RunningApplication {QStringLiteral("bash"), std::nullopt},
        RunningApplication {QStringLiteral("redshift-gtk"), std::nullopt}};
    p.readSystem();
    ASSERT_FALSE(p.conflictBar()->isHidden());
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("CONFLICT: quit Redshift"));
    EXPECT_EQ(p.conflictBar()->geometry(), QRect(20, 560, 332, 24));

    p.view()->show();
    click(p.conflictBar());
    EXPECT_FALSE(engine.enabled());
    p.view()->hide();

    Localization::shared().set(Lang::es);
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("CONFLICTO: cierra Redshift"));

    apps.applications.clear();
    p.readSystem();
    EXPECT_TRUE(p.conflictBar()->isHidden());
}

TEST_F(PanelTest, ConflictBarNamesTheDisplayAnotherProgramKeepsChanging)
{
    displays.addDisplay(externalID);
    displays.find(externalID)->result = GammaResult::heldByOther;
    engine.setEnabled(true);
    PopoverViewController& p = make();
    ASSERT_FALSE(p.conflictBar()->isHidden());
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("Another app keeps changing the colours of OUT-2"));
    apps.applications = {RunningApplication {QStringLiteral("gammastep"), std::nullopt}};
    p.readSystem();
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("Gammastep keeps changing the colours of OUT-2"));
    Localization::shared().set(Lang::ca);
    EXPECT_EQ(p.conflictBar()->titleStr(), QStringLiteral("Gammastep canvia sense parar els colors de OUT-2"));
}

TEST_F(PanelTest, PanelHeightIs594WithOneBarAnd624WithBoth)
{
    builtinAt(0.45f);
    PopoverViewController& p = make();
    EXPECT_EQ(p.preferredContentSize(), QSize(372, 594));
    EXPECT_EQ(p.view()->height(), 594);
    EXPECT_TRUE(p.tipLabel()->isHidden());
    EXPECT_TRUE(p.tipImageView()->isHidden());
    EXPECT_TRUE(p.tipLinkOverlay()->isHidden());
    EXPECT_FALSE(p.tipLinkOverlay()->showLink());

    apps.applications = {RunningApplication {std::nullopt, QStringLiteral("com.example.Lunar")}};
    p.readSystem();
    EXPECT_EQ(p.preferredContentSize(), QSize(372, 624));
    EXPECT_EQ(p.flickerBar()->geometry(), QRect(20, 560, 332, 24));
    EXPECT_EQ(p.conflictBar()->geometry(), QRect(20, 590, 332, 24));
    EXPECT_EQ(sizes.back(), QSize(372, 624));

    // The conflict bar alone takes the first place.
    backlight.panels[builtinID].level = 0.9f;
    p.readSystem();
    EXPECT_EQ(p.preferredContentSize(), QSize(372, 594));
    EXPECT_EQ(p.conflictBar()->geometry(), QRect(20, 560, 332, 24));

    // No bars: the tip is back and sets the height.
    apps.applications.clear();
    p.readSystem();
    EXPECT_FALSE(p.tipLabel()->isHidden());
    EXPECT_EQ(p.preferredContentSize().height(), 560 + p.tipLabel()->height() + 10);
    // Told once per change, not on every refresh.
    const size_t told = sizes.size();
    p.readSystem();
    EXPECT_EQ(sizes.size(), told);
}

// --- the tip area ---

TEST_F(PanelTest, TipWithoutImageIsCentredOverTheFullWidth)
{
    PopoverViewController& p = make();
    p.showMessage(tip(QStringLiteral("A rather long tip that certainly needs more than one line to fit in the panel")));
    QLabel* label = p.tipLabel();
    EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
    const int textH = textHeightAt(label, 332, Qt::AlignHCenter);
    EXPECT_EQ(label->geometry(), QRect(20, 560, 332, textH));
    EXPECT_GE(label->height(), label->heightForWidth(332));  // nothing cut off
    EXPECT_GT(textH, 2 * QFontMetricsF(label->font()).height());  // it did wrap
    EXPECT_TRUE(p.tipImageView()->isHidden());
    EXPECT_EQ(p.preferredContentSize(), QSize(372, 560 + textH + 10));
    EXPECT_EQ(p.view()->height(), 560 + textH + 10);
    EXPECT_TRUE(colorNear(label->palette().color(QPalette::WindowText), Theme::veskGray(), 0));

    // A short one makes the panel shorter.
    p.showMessage(tip(QStringLiteral("Short")));
    EXPECT_EQ(p.preferredContentSize().height(), 560 + textHeightAt(label, 332, Qt::AlignHCenter) + 10);
    EXPECT_LT(p.preferredContentSize().height(), 560 + textH + 10);
}

TEST_F(PanelTest, TipColourFromTheFeedOrGrey)
{
    PopoverViewController& p = make();
    p.showMessage(tip(QStringLiteral("x"), std::nullopt, std::nullopt, QStringLiteral("#FF3B30")));
    EXPECT_TRUE(colorNear(p.tipLabel()->palette().color(QPalette::WindowText), QColor(255, 59, 48), 0));
    p.showMessage(tip(QStringLiteral("x"), std::nullopt, std::nullopt, QStringLiteral("#FF3B")));
    EXPECT_TRUE(colorNear(p.tipLabel()->palette().color(QPalette::WindowText), Theme::veskGray(), 0));
}

TEST_F(PanelTest, TipTextIsNeverMarkup)
{
    PopoverViewController& p = make();
    p.showMessage(tip(QStringLiteral("<b>bold</b> <img src=\"file:///etc/passwd\">")));
    EXPECT_EQ(p.tipLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(p.tipLabel()->text(), QStringLiteral("<b>bold</b> <img src=\"file:///etc/passwd\">"));
}

TEST_F(PanelTest, TipImageIsDownloadedShownBesideTheTextAndCached)
{
    LoopbackServer server;
    server.route(QStringLiteral("/sun.png"), png(132, 132, QColor(250, 200, 40)));
    PopoverViewController& p = make();
    const QString address = server.url(QStringLiteral("/sun.png"));
    p.showMessage(tip(QStringLiteral("A tip with a picture"), address));
    EXPECT_EQ(p.currentImageURL(), address);
    EXPECT_FALSE(p.currentImage());  // laid out without it meanwhile
    ASSERT_TRUE(waitFor([&p] { return p.currentImage().has_value(); }));
    EXPECT_TRUE(p.imageCached(address));

    QLabel* label = p.tipLabel();
    const int textH = textHeightAt(label, 254, Qt::AlignLeft);
    const int blockH = std::max(textH, 66);
    EXPECT_FALSE(p.tipImageView()->isHidden());
    EXPECT_EQ(p.tipImageView()->geometry(), QRect(20, 560 + (blockH - 66) / 2, 66, 66));
    EXPECT_TRUE(label->alignment() & Qt::AlignLeft);
    EXPECT_EQ(label->x(), 98);
    EXPECT_EQ(label->width(), 254);
    EXPECT_NEAR(label->y(), 560 + (blockH - textH) / 2.0, 0.5);
    EXPECT_EQ(p.preferredContentSize().height(), 560 + blockH + 10);

    // Drawn: the picture's colour in the middle, the panel's black in the rounded-off corner.
    const QImage image = snapshot(*p.view());
    const QRect g = p.tipImageView()->geometry();
    EXPECT_TRUE(colorNear(at(image, g.center().x(), g.center().y()), QColor(250, 200, 40), 2));
    EXPECT_TRUE(colorNear(at(image, g.left(), g.top()), Theme::veskBlack(), 2));

    // Shown again later: from memory, no second download.
    p.showMessage(tip(QStringLiteral("Another")));
    EXPECT_TRUE(p.tipImageView()->isHidden());
    p.showMessage(tip(QStringLiteral("A tip with a picture"), address));
    EXPECT_TRUE(p.currentImage().has_value());
    EXPECT_FALSE(p.tipImageView()->isHidden());
    EXPECT_EQ(server.count(QStringLiteral("/sun.png")), 1);
}

TEST_F(PanelTest, SlowImageArrivingAfterTheTipRotatedIsCachedButNotShown)
{
    LoopbackServer server;
    LoopbackServer::Response slow {200, png(80, 80, Qt::blue), true, true};
    server.route(QStringLiteral("/slow.png"), slow);
    PopoverViewController& p = make();
    const QString address = server.url(QStringLiteral("/slow.png"));
    p.showMessage(tip(QStringLiteral("First"), address));
    ASSERT_TRUE(waitFor([&server] { return server.heldCount() == 1; }));

    p.showMessage(tip(QStringLiteral("Second, no picture")));
    const int heightBefore = p.preferredContentSize().height();
    server.releaseHeld();
    ASSERT_TRUE(waitFor([&p, &address] { return p.imageCached(address); }));
    spin(50);
    EXPECT_FALSE(p.currentImage());
    EXPECT_TRUE(p.tipImageView()->isHidden());
    EXPECT_EQ(p.tipLabel()->text(), QStringLiteral("Second, no picture"));
    EXPECT_TRUE(p.tipLabel()->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(p.preferredContentSize().height(), heightBefore);

    // When the first tip comes round again its picture is there at once.
    p.showMessage(tip(QStringLiteral("First"), address));
    EXPECT_TRUE(p.currentImage().has_value());
    EXPECT_EQ(server.count(QStringLiteral("/slow.png")), 1);
}

TEST_F(PanelTest, BrokenImagesAndAddressesAreIgnored)
{
    LoopbackServer server;
    server.route(QStringLiteral("/text.png"), QByteArray("this is not a picture"));
    LoopbackServer::Response missing {404, png(10, 10, Qt::red), true, false};
    server.route(QStringLiteral("/gone.png"), missing);
    PopoverViewController& p = make();

    const QString text = server.url(QStringLiteral("/text.png"));
    p.showMessage(tip(QStringLiteral("a"), text));
    ASSERT_TRUE(waitFor([&server] { return server.count(QStringLiteral("/text.png")) == 1; }));
    spin(200);
    EXPECT_FALSE(p.currentImage());
    EXPECT_FALSE(p.imageCached(text));
    EXPECT_TRUE(p.tipImageView()->isHidden());

    // The status is not looked at: a picture is a picture.
    const QString gone = server.url(QStringLiteral("/gone.png"));
    p.showMessage(tip(QStringLiteral("b"), gone));
    EXPECT_TRUE(waitFor([&p] { return p.currentImage().has_value(); }));

    // Nothing is fetched for addresses that are not web addresses.
    for (const QString& bad : {QStringLiteral("not a url at all"), QStringLiteral("http://"), QStringLiteral("file:///etc/hostname"),
             QStringLiteral("ht tp://127.0.0.1/x.png"), QString()}) {
        p.showMessage(tip(QStringLiteral("c"), bad));
        EXPECT_EQ(p.currentImageURL(), bad);
        EXPECT_FALSE(p.currentImage()) << bad.toStdString();
        EXPECT_TRUE(p.tipImageView()->isHidden());
    }
    spin(100);
    EXPECT_EQ(server.requests().size(), 2);
}

// The cap itself is the download helper's (tested there); here: a picture over it is never shown.
TEST_F(PanelTest, OversizedImageDownloadIsAbandoned)
{
    const QByteArray big = noisePng(900);  // 2.4 MB of pixels that do not compress
    ASSERT_GT(big.size(), TipPictures::maxImageBytes);
    LoopbackServer server;
    server.route(QStringLiteral("/big.png"), LoopbackServer::Response {200, big, false});
    const QByteArray fits = noisePng(400);
    ASSERT_LT(fits.size(), TipPictures::maxImageBytes);
    server.route(QStringLiteral("/fits.png"), fits);
    PopoverViewController& p = make();

    const QString tooBig = server.url(QStringLiteral("/big.png"));
    p.showMessage(tip(QStringLiteral("big"), tooBig));
    ASSERT_TRUE(waitFor([&server] { return server.count(QStringLiteral("/big.png")) == 1; }));
    spin(300);
    EXPECT_FALSE(p.imageCached(tooBig));
    EXPECT_FALSE(p.currentImage());

    const QString address = server.url(QStringLiteral("/fits.png"));
    p.showMessage(tip(QStringLiteral("fits"), address));
    EXPECT_TRUE(waitFor([&p] { return p.currentImage().has_value(); }));
    // Kept no larger than three times the 66 pixels it is shown at.
    EXPECT_EQ(p.currentImage()->size(), QSize(198, 198));
}

TEST_F(PanelTest, WidePictureKeepsItsProportions)
{
    LoopbackServer server;
    server.route(QStringLiteral("/wide.png"), png(600, 300, QColor(20, 160, 90)));
    PopoverViewController& p = make();
    p.showMessage(tip(QStringLiteral("wide"), server.url(QStringLiteral("/wide.png"))));
    ASSERT_TRUE(waitFor([&p] { return p.currentImage().has_value(); }));
    EXPECT_EQ(p.currentImage()->size(), QSize(198, 99));
    // Fitted into the 66-pixel square: full width, a band of panel above and below.
    const QImage image = snapshot(*p.view());
    const QRect g = p.tipImageView()->geometry();
    EXPECT_TRUE(colorNear(at(image, g.center().x(), g.center().y()), QColor(20, 160, 90), 2));
    EXPECT_TRUE(colorNear(at(image, g.left() + 10, g.center().y()), QColor(20, 160, 90), 2));
    EXPECT_TRUE(colorNear(at(image, g.center().x(), g.top() + 5), Theme::veskBlack(), 2));
    EXPECT_TRUE(colorNear(at(image, g.center().x(), g.bottom() - 5), Theme::veskBlack(), 2));
}

TEST_F(PanelTest, TipLinkOpensOnlyWebAddresses)
{
    PopoverViewController& p = make();
    p.view()->show();
    p.showMessage(tip(QStringLiteral("Read more"), std::nullopt, QStringLiteral("https://example.org/more")));
    ClickableArea* overlay = p.tipLinkOverlay();
    EXPECT_TRUE(overlay->showLink());
    EXPECT_EQ(overlay->geometry(), QRect(20, 560, 332, p.tipLabel()->height()));
    click(overlay);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://example.org/more")));

    // No link: inert.
    p.showMessage(tip(QStringLiteral("Nothing to open")));
    EXPECT_FALSE(overlay->showLink());
    click(overlay);
    EXPECT_EQ(opened.size(), 1u);

    // Not a web address: nothing is opened.
    for (const QString& bad : {QStringLiteral("file:///usr/bin/xterm"), QStringLiteral("not a url"), QStringLiteral("javascript:alert(1)")}) {
        p.showMessage(tip(QStringLiteral("x"), std::nullopt, bad));
        click(overlay);
    }
    EXPECT_EQ(opened.size(), 1u);
    p.view()->hide();
}

TEST_F(PanelTest, AuthorLinkOpensTheCreditsAddress)
{
    PopoverViewController& p = make();
    EXPECT_EQ(p.authorURL(), tips.aboutInfo().url.value());
    p.view()->show();
    click(p.authorLink());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(*tips.aboutInfo().url));

    // A feed without an address: the fixed default.
    Tips::Document document;
    document.about = MessageSource {{QStringLiteral("en"), QStringLiteral("Thanks")}};
    tips.apply(document);
    p.relocalize();
    EXPECT_EQ(p.authorURL(), QString::fromLatin1(PopoverViewController::defaultAuthorURL));
    click(p.authorLink());
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], QUrl(QString::fromLatin1(PopoverViewController::defaultAuthorURL)));
    p.view()->hide();
}

// --- opening, closing, timers ---

TEST_F(PanelTest, TimersRunOnlyWhileOpen)
{
    PopoverViewController& p = make();
    EXPECT_EQ(p.tick(), nullptr);
    EXPECT_EQ(p.tipTimer(), nullptr);

    const QString builtTip = p.tipLabel()->text();
    p.view()->show();
    ASSERT_NE(p.tick(), nullptr);
    ASSERT_NE(p.tipTimer(), nullptr);
    EXPECT_TRUE(p.tick()->isActive());
    EXPECT_FALSE(p.tick()->isSingleShot());
    EXPECT_EQ(p.tick()->interval(), 3000);
    EXPECT_TRUE(p.tipTimer()->isActive());
    EXPECT_FALSE(p.tipTimer()->isSingleShot());
    EXPECT_EQ(p.tipTimer()->interval(), 9000);
    EXPECT_NE(p.tipLabel()->text(), builtTip);  // a new tip on opening

    p.view()->hide();
    EXPECT_EQ(p.tick(), nullptr);
    EXPECT_EQ(p.tipTimer(), nullptr);

    // Reopening starts them again and shows another tip at once.
    const QString closedTip = p.tipLabel()->text();
    p.view()->show();
    EXPECT_TRUE(p.tick() && p.tick()->isActive());
    EXPECT_TRUE(p.tipTimer() && p.tipTimer()->isActive());
    EXPECT_NE(p.tipLabel()->text(), closedTip);
    p.view()->hide();
}

TEST_F(PanelTest, OpenPanelRefreshesEveryThreeSeconds)
{
    PopoverViewController& p = make();
    p.view()->show();
    engine.setWarmth(30);  // nothing tells the panel
    spin(500);
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("62%"));
    EXPECT_TRUE(waitFor([&p] { return p.warmthValue()->text() == QStringLiteral("30%"); }, 3500));
    p.view()->hide();

    // Closed: no refresh.
    engine.setWarmth(40);
    spin(3300);
    EXPECT_EQ(p.warmthValue()->text(), QStringLiteral("30%"));
}

// --- language ---

TEST_F(PanelTest, LanguageChangeRebuildsWithoutDuplicates)
{
    PopoverViewController& p = make();
    const int buttons = flatButtons(p.view());
    EXPECT_EQ(buttons, 3 + 3 + 1 + 2);  // flags, presets, settings, bars
    const int widgets = static_cast<int>(p.view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size());
    QPointer<VeskFlatButton> oldPreset = p.presets()[0].btn;

    p.view()->show();
    click(p.flags()[0].btn);  // Spanish, from inside the click that asked for it
    EXPECT_EQ(Localization::shared().lang(), Lang::es);
    EXPECT_EQ(p.presets().size(), 3u);
    EXPECT_EQ(p.flags().size(), 3u);
    EXPECT_EQ(flatButtons(p.view()), buttons);
    EXPECT_EQ(static_cast<int>(p.view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size()), widgets);
    EXPECT_EQ(p.warmthLabel()->text(), QStringLiteral("CALIDEZ"));
    EXPECT_EQ(p.presets()[2].btn->titleStr(), QStringLiteral("NOCHE"));
    EXPECT_EQ(p.filterOnLabel()->text(), QStringLiteral("Filtro\nencendido"));
    EXPECT_TRUE(p.flags()[0].btn->active());
    EXPECT_FALSE(p.flags()[1].btn->active());
    EXPECT_TRUE(p.tipLabel()->text().startsWith(QStringLiteral("es: ")));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(oldPreset.isNull());  // the old views are gone

    click(p.flags()[2].btn);
    EXPECT_EQ(Localization::shared().lang(), Lang::ca);
    EXPECT_EQ(flatButtons(p.view()), buttons);
    EXPECT_EQ(p.warmthLabel()->text(), QStringLiteral("CALIDESA"));
    EXPECT_TRUE(p.flags()[2].btn->active());
    p.view()->hide();
}

TEST_F(PanelTest, RebuildKeepsTheEngineValues)
{
    displays.addDisplay(externalID);
    PopoverViewController& p = make();
    engine.setEnabled(true);
    engine.setWarmth(80);
    engine.setBrightness(45);
    Localization::shared().set(Lang::ca);
    EXPECT_NEAR(p.warmthSlider()->doubleValue(), 80, 0.01);
    EXPECT_NEAR(p.brightSlider()->doubleValue(), 45, 0.01);
    EXPECT_EQ(p.brightValue()->text(), QStringLiteral("45%"));
    EXPECT_TRUE(p.themeSwitch()->isOn());
    EXPECT_EQ(p.themeSwitch()->progress(), 1.0);
    // The rebuild did not touch the engine.
    EXPECT_EQ(engine.warmth(), 80);
    EXPECT_TRUE(engine.enabled());
}

TEST_F(PanelTest, EngineAnimationAfterThePanelIsGone)
{
    displays.addDisplay(externalID);
    make();
    panel.reset();
    engine.animateWarmth(10, 0.05);
    EXPECT_TRUE(waitFor([this] { return !engine.isAnimating(); }));
    EXPECT_EQ(engine.warmth(), 10);
}

// --- inside the popup the shell opens ---

TEST_F(PanelTest, InsideThePopupTimersFollowItAndItsHeightFollowsThePanel)
{
    Popover popover;
    PopoverViewController& p = make();
    popover.setContentWidget(p.view());
    p.onPreferredContentSizeChange = [&popover](QSize size) { popover.setContentSize(size); };
    EXPECT_EQ(popover.size(), p.preferredContentSize());
    EXPECT_EQ(p.tick(), nullptr);  // set as content, not yet open

    popover.showRelativeTo(QRect(500, 0, 24, 24));
    EXPECT_TRUE(p.tick() && p.tick()->isActive());
    EXPECT_TRUE(p.tipTimer() && p.tipTimer()->isActive());

    // A bar appears while open: the popup takes the new height.
    apps.applications = {RunningApplication {QStringLiteral("gammy"), std::nullopt}};
    p.readSystem();
    EXPECT_EQ(popover.size(), QSize(372, 594));
    EXPECT_EQ(p.view()->size(), QSize(372, 594));

    popover.performClose();
    EXPECT_EQ(p.tick(), nullptr);
    EXPECT_EQ(p.tipTimer(), nullptr);

    popover.showRelativeTo(QRect(500, 0, 24, 24));
    EXPECT_TRUE(p.tick() && p.tick()->isActive());
    popover.performClose();
}
