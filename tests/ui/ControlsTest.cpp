// The small controls the panels are made of, the tip colour parser, and the display warning.
#include "engine/VeskEngine.h"
#include "platform/NoDisplayServices.h"
#include "system/Localization.h"
#include "ui/ClickableArea.h"
#include "ui/DisplayWarning.h"
#include "ui/FlippedView.h"
#include "ui/MiniToggle.h"
#include "ui/RoundedImageView.h"
#include "ui/Theme.h"
#include "ui/ThemeSwitch.h"

#include "FakeDisplayServices.h"
#include "Pixels.h"
#include "support/TestEnvironment.h"

#include <QPainter>
#include <QTest>

TEST(ColorFromHex, SpellingsSignsAndRefusals)
{
    const std::pair<const char*, int> cases[] = {  // -1: refused
        {"#FF3B30", 0xFF3B30}, {"  #ff3b30\r\n", 0xFF3B30}, {"123456", 0x123456}, {"#a0b0c0", 0xA0B0C0}, {"+00010", 0x000010},
        {"#+FFFFF", 0x0FFFFF}, {"-00001", 0xFFFFFF}, {"-10000", 0xFF0000}, {"", -1}, {"#F00", -1}, {"#FF3B3", -1}, {"FF3B30FF", -1},
        {"##FF3B30", -1}, {"FF3B3G", -1}, {"FF 3B3", -1}, {"1+0001", -1}, {"++0001", -1}, {"FF3B3-", -1}};
    for (const auto& [text, rgb] : cases) {
        const auto color = Theme::colorFromHex(QString::fromLatin1(text));
        EXPECT_EQ(color ? static_cast<int>(color->rgb() & 0xFFFFFF) : -1, rgb) << '"' << text << '"';
    }
    EXPECT_FALSE(Theme::colorFromHex(QStringLiteral("ＦＦ３Ｂ３０")));  // digits of another script
}

TEST(VeskFlatButton, ActiveIsRedWithADarkTitleInactiveShowsItsOwnColours)
{
    auto dark = [](const QColor& c) { return c.red() < 70 && c.green() < 70 && c.blue() < 70; };
    auto green = [](const QColor& c) { return c.green() > 150 && c.red() < 120; };
    int runs = 0;
    VeskFlatButton button(QStringLiteral("R&D"), [&runs] { ++runs; });
    button.resize(105, 36);
    button.setBg(Qt::blue);
    button.setFg(Qt::green);
    button.setActive(true);
    QImage image = snapshot(button);
    EXPECT_TRUE(colorNear(at(image, 6, 18), Theme::veskRed(), 0));
    EXPECT_GT(countPixels(image, dark), 40);
    EXPECT_EQ(countPixels(image, green) + countPixels(image.copy(0, 0, 20, 36), dark), 0);  // centred, not in fg
    EXPECT_FALSE(colorNear(at(image, 0, 0), Theme::veskRed(), 10)) << "rounded corners";
    button.setActive(false);
    image = snapshot(button);
    EXPECT_TRUE(colorNear(at(image, 6, 18), QColor(Qt::blue), 0));
    EXPECT_GT(countPixels(image, green), 40);
    EXPECT_EQ(countPixels(image, dark), 0);

    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(runs, 0) << "the action waits for the release";
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(30, 12));
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(30, 12));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(200, 200));  // released outside
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(button.shortcut().isEmpty());  // "&" is text
}

TEST(VeskFlatButton, FlagModeShowsActiveAsATwoPixelOutline)
{
    VeskFlatButton button(QString {});
    button.resize(28, 24);
    button.setFlagMode(true);
    button.setBg(Theme::veskBlack());
    button.setActive(true);
    const QImage image = snapshot(button);
    for (int i : {0, 1}) {
        EXPECT_TRUE(colorNear(at(image, 14, i), Theme::veskRed(), 0) && colorNear(at(image, 14, 23 - i), Theme::veskRed(), 0)) << i;
        EXPECT_TRUE(colorNear(at(image, i, 12), Theme::veskRed(), 0) && colorNear(at(image, 27 - i, 12), Theme::veskRed(), 0)) << i;
    }
    EXPECT_TRUE(colorNear(at(image, 14, 2), Theme::veskBlack(), 0) && colorNear(at(image, 14, 12), Theme::veskBlack(), 0));
}

TEST(MiniToggle, KnobLeftOnGreyOffRightOnRedOnAndFlipsOnThePress)
{
    MiniToggle toggle;
    toggle.resize(46, 26);
    QImage image = snapshot(toggle);
    for (auto [x, y] : {std::pair {4, 13}, {21, 13}, {13, 4}, {13, 21}})
        EXPECT_TRUE(colorNear(at(image, x, y), Qt::white, 0)) << x << "," << y;
    for (auto [x, y] : {std::pair {1, 13}, {24, 13}, {43, 13}, {13, 1}, {13, 24}})
        EXPECT_TRUE(colorNear(at(image, x, y), MiniToggle::offTrack(), 0)) << x << "," << y;

    std::vector<bool> seen;
    toggle.onToggle = [&] { seen.push_back(toggle.isOn()); };
    QTest::mousePress(&toggle, Qt::LeftButton, {}, QPoint(10, 13));
    image = snapshot(toggle);
    for (int x : {24, 41})
        EXPECT_TRUE(colorNear(at(image, x, 13), Qt::white, 0)) << x;
    for (auto [x, y] : {std::pair {2, 13}, {21, 13}, {44, 13}, {33, 1}})
        EXPECT_TRUE(colorNear(at(image, x, y), Theme::veskRed(), 0)) << x << "," << y;
    QTest::mouseRelease(&toggle, Qt::LeftButton, {}, QPoint(10, 13));
    QTest::mousePress(&toggle, Qt::LeftButton, {}, QPoint(40, 13));
    toggle.setOn(true);  // from code: not reported
    EXPECT_EQ(seen, (std::vector<bool> {true, false}));

    // Disabled: dark grey, the cursor of what lies beneath, clicks ignored.
    toggle.setEnabled(false);
    EXPECT_TRUE(colorNear(at(snapshot(toggle), 13, 13), MiniToggle::disabledTrack(), 0));
    EXPECT_NE(toggle.cursor().shape(), Qt::PointingHandCursor);
    QTest::mousePress(&toggle, Qt::LeftButton, {}, QPoint(23, 13));
    EXPECT_TRUE(toggle.isOn());
    EXPECT_EQ(seen.size(), 2u);
}

namespace {
struct PressCounter : QWidget {
    using QWidget::QWidget;
    int presses = 0;
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};
}  // namespace

TEST(ClickableArea, InertLetsClicksThroughLiveTakesThem)
{
    FlippedView root;
    root.resize(200, 100);
    auto* beneath = new PressCounter(&root);
    beneath->setGeometry(0, 0, 200, 100);
    auto* area = new ClickableArea(&root);
    area->setGeometry(50, 30, 80, 24);
    int clicks = 0;
    area->onClick = [&] {
        ++clicks;
        area->onClick = nullptr;  // an owner rebuilding from inside the callback
    };
    root.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&root));
    auto clickAt = [&root](QPoint p) { QTest::mouseClick(root.windowHandle(), Qt::LeftButton, {}, p); };
    clickAt(QPoint(90, 40));
    EXPECT_EQ(clicks, 0);
    area->setShowLink(true);
    EXPECT_EQ(area->cursor().shape(), Qt::PointingHandCursor);
    clickAt(QPoint(90, 40));
    clickAt(QPoint(90, 40));  // live without a callback still swallows the click
    clickAt(QPoint(10, 10));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(beneath->presses, 2);
}

TEST(RoundedImageView, FitsThePictureCentredWithItsProportions)
{
    EXPECT_EQ(RoundedImageView::fittedRect({600, 300}, {66, 66}), QRectF(0, 16.5, 66, 33));
    EXPECT_EQ(RoundedImageView::fittedRect({30, 60}, {66, 66}), QRectF(16.5, 0, 33, 66));
    EXPECT_EQ(RoundedImageView::fittedRect({0, 0}, {66, 66}), QRectF());
}

// The day/night switch at the panel's 164 x 79: the knob's centre is (39.5, 39.5) by day, (124.5, 39.5) at night.
TEST(ThemeSwitch, DayShowsSunAndCloudsNightShowsMoonAndStars)
{
    ThemeSwitch sw;
    sw.resize(164, 79);
    auto sunny = [](const QColor& c) { return c.red() > 140 && c.green() > 110 && c.blue() < 140; };
    QImage image = snapshot(sw);
    EXPECT_TRUE(colorNear(at(image, 154, 39), sw.dayBG, 1)) << "no knob at the right end";
    EXPECT_TRUE(sunny(at(image, 10, 39)) && sunny(at(image, 55, 27)));
    EXPECT_TRUE(colorNear(at(image, 112, 77), sw.cloud, 2));
    EXPECT_LT(at(image, 39, 73).blue(), sw.dayBG.blue() - 12) << "the knob's shadow below it";
    sw.sync(true);
    image = snapshot(sw);
    EXPECT_TRUE(colorNear(at(image, 10, 39), sw.nightBG, 1)) << "no knob at the left end";
    EXPECT_TRUE(colorNear(at(image, 154, 39), sw.moon, 1));
    EXPECT_TRUE(colorNear(at(image, 129, 31), sw.spot, 1) && colorNear(at(image, 135, 52), sw.spot, 1)) << "craters";
    for (auto [x, y] : {std::pair {26, 28}, {55, 27}, {42, 50}})
        EXPECT_TRUE(colorNear(at(image, x, y), Qt::white, 1)) << "star at " << x << "," << y;
    EXPECT_TRUE(colorNear(at(image, 112, 77), over(sw.nightBG, Qt::white, 0.05), 2)) << "no cloud, under the halo";
    image.fill(Qt::transparent);  // half-way, everything blends
    QPainter painter(&image);
    sw.paintContent(painter, QSizeF(164, 79), 0.5);
    painter.end();
    const QColor mid = ThemeSwitch::lerp(sw.dayBG, sw.nightBG, 0.5);
    EXPECT_TRUE(colorNear(at(image, 10, 39), mid, 2) && colorNear(at(image, 154, 39), mid, 2)) << "the knob in the middle";
    EXPECT_TRUE(colorNear(at(image, 26, 28), over(over(mid, Qt::white, 0.5), Qt::white, 0.05), 3)) << "star";
    EXPECT_TRUE(colorNear(at(image, 112, 77), over(over(mid, sw.cloud, 0.5), Qt::white, 0.05), 3)) << "cloud";
}

TEST(ThemeSwitch, AClickAnimatesAndASecondReversesFromWhereItIs)
{
    ThemeSwitch sw;
    double now = 100.0;
    int toggles = 0;
    sw.setClock([&now] { return now; });
    sw.onToggle = [&toggles] { ++toggles; };
    auto reaches = [&sw](double p) { return waitFor([&] { return std::abs(sw.progress() - p) < 1e-9; }, 2000); };
    auto smoothstep = [](double t) { return t * t * (3.0 - 2.0 * t); };
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_TRUE(sw.isOn());
    EXPECT_EQ(sw.progress(), 0.0) << "the picture moves with the frames";
    now += 0.2;
    ASSERT_TRUE(reaches(smoothstep(0.2 / 0.45)));
    sw.sync(true);  // the same state: the animation goes on
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_EQ(toggles, 2);
    now += 0.225;  // half of a full run back to day
    ASSERT_TRUE(reaches(smoothstep(0.2 / 0.45) * 0.5));
    now += 0.3;
    ASSERT_TRUE(reaches(0.0));
    EXPECT_TRUE(waitFor([&] { return !sw.isAnimating(); }, 1000));
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(40, 40));
    now += 0.1;
    ASSERT_TRUE(reaches(smoothstep(0.1 / 0.45)));
    sw.sync(false);  // the other state: stops, or the old run would carry the picture back
    EXPECT_FALSE(sw.isAnimating());
    EXPECT_EQ(sw.progress(), 0.0);
}

TEST(DisplayWarning, TheIconIsRedOnlyWhereADisplayShowsTheFilter)
{
    Localization::shared().set(Lang::en);
    using R = GammaResult;
    const struct {
        std::vector<R> results;  // displays 1, 2, …
        bool on, visible;
        const char* text;  // nullptr: no warning
        const char* log;
    } cases[] = {
        {{R::applied, R::applied}, true, true, nullptr, "every display took the tables"},
        {{R::applied, R::heldByOther}, true, true, nullptr, "OUT-2 held by another program"},
        {{R::unsupported, R::heldByOther, R::unsupported}, true, false, "⚠︎ Colours cannot be set on OUT-1, OUT-3",
            "OUT-2 held by another program; OUT-1, OUT-3 take no gamma"},
        {{R::unsupported}, false, false, nullptr, "every display took the tables"},
        {{}, true, false, nullptr, "every display took the tables"},
    };
    for (const auto& c : cases) {
        FakeDisplayServices displays;
        for (size_t i = 0; i < c.results.size(); ++i) {
            displays.addDisplay(static_cast<DisplayID>(i + 1));
            displays.displays.back().result = c.results[i];
        }
        VeskEngine engine;
        engine.setDisplayServices(&displays);
        engine.setEnabled(c.on);
        EXPECT_EQ(DisplayWarning::filterVisible(engine), c.visible) << c.log;
        EXPECT_EQ(DisplayWarning::text(engine).value_or(QString()), c.text ? QString::fromUtf8(c.text) : QString()) << c.log;
        EXPECT_EQ(DisplayWarning::logLine(engine), QStringLiteral("display: ") + QString::fromUtf8(c.log));
    }
    // A session without gamma control: the desktop's own night light.
    NoDisplayServices none;
    VeskEngine engine;
    engine.setDisplayServices(&none);
    engine.setEnabled(true);
    EXPECT_FALSE(DisplayWarning::filterVisible(engine));
    Localization::shared().set(Lang::ca);
    EXPECT_EQ(DisplayWarning::text(engine), QString::fromUtf8("⚠︎ L'escriptori bloqueja el color — usa la Llum nocturna"));
    Localization::shared().set(Lang::en);
}
