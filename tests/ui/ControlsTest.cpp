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
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QTest>

namespace {
QColor at(const QImage& image, int x, int y) { return QColor::fromRgba(image.pixel(x, y)); }
QImage snapshot(QWidget& widget) { return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32); }
::testing::AssertionResult colorNear(const QColor& actual, const QColor& expected, int tolerance = 0)
{
    const bool near = std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance
        && std::abs(actual.blue() - expected.blue()) <= tolerance;
    return near ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << actual.name().toStdString() << " is not " << expected.name().toStdString();
}
}  // namespace

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
}

TEST(VeskFlatButton, ActiveIsRedInactiveShowsItsOwnColourAndFlagModeOutlines)
{
    VeskFlatButton button(QStringLiteral("Day"));
    button.resize(105, 36);
    button.setBg(Qt::blue);
    button.setActive(true);
    EXPECT_TRUE(colorNear(at(snapshot(button), 6, 18), Theme::veskRed()));
    button.setActive(false);
    EXPECT_TRUE(colorNear(at(snapshot(button), 6, 18), Qt::blue));
    VeskFlatButton flag(QString {});
    flag.resize(28, 24);
    flag.setFlagMode(true);
    flag.setBg(Theme::veskBlack());
    flag.setActive(true);
    const QImage image = snapshot(flag);
    for (auto [x, y] : {std::pair {14, 0}, {14, 1}, {14, 22}, {14, 23}, {0, 12}, {1, 12}, {26, 12}, {27, 12}, {14, 2}, {14, 12}})
        EXPECT_TRUE(colorNear(at(image, x, y), x == 14 && (y == 2 || y == 12) ? Theme::veskBlack() : Theme::veskRed())) << x << "," << y;
}

TEST(MiniToggle, KnobLeftOnGreyOffRightOnRedOnAndFlipsOnThePress)
{
    MiniToggle toggle;
    toggle.resize(46, 26);
    auto expect = [&toggle](std::initializer_list<std::pair<int, int>> points, const QColor& colour, int tolerance = 0) {
        const QImage image = snapshot(toggle);
        for (auto [x, y] : points)
            EXPECT_TRUE(colorNear(at(image, x, y), colour, tolerance)) << x << "," << y;
    };
    expect({{3, 13}, {22, 13}, {13, 3}, {13, 22}}, Qt::white, 8);  // the knob's edges, smoothed
    expect({{1, 13}, {24, 13}, {43, 13}, {13, 1}, {13, 24}}, MiniToggle::offTrack());
    QTest::mousePress(&toggle, Qt::LeftButton, {}, QPoint(10, 13));
    expect({{24, 13}, {41, 13}}, Qt::white);
    expect({{2, 13}, {21, 13}, {44, 13}, {33, 1}}, Theme::veskRed());
}

TEST(ClickableArea, OnlyALiveAreaTakesClicks)
{
    FlippedView root;
    root.resize(200, 100);
    auto* area = new ClickableArea(&root);
    area->setGeometry(50, 30, 80, 24);
    int clicks = 0;
    area->onClick = [&] { ++clicks; area->onClick = nullptr; };  // as an owner rebuilding from inside the callback does
    root.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&root));
    auto clickAt = [&root](QPoint p) { QTest::mouseClick(root.windowHandle(), Qt::LeftButton, {}, p); };
    clickAt(QPoint(90, 40));
    EXPECT_EQ(clicks, 0);
    area->setShowLink(true);
    clickAt(QPoint(90, 40));
    clickAt(QPoint(90, 40));  // live, its callback gone
    EXPECT_EQ(clicks, 1);
}

TEST(RoundedImageView, FitsThePictureCentredWithItsProportions)
{
    EXPECT_EQ(RoundedImageView::fittedRect({600, 300}, {66, 66}), QRectF(0, 16.5, 66, 33));
    EXPECT_EQ(RoundedImageView::fittedRect({30, 60}, {66, 66}), QRectF(16.5, 0, 33, 66));
    EXPECT_EQ(RoundedImageView::fittedRect({0, 0}, {66, 66}), QRectF());
}

TEST(ThemeSwitch, DayShowsSunAndCloudsNightShowsMoonAndStars)
{
    ThemeSwitch sw;
    sw.resize(164, 79);
    QImage image = snapshot(sw);
    EXPECT_TRUE(colorNear(at(image, 154, 39), sw.dayBG, 1) && colorNear(at(image, 112, 77), sw.cloud, 2));
    EXPECT_TRUE(colorNear(at(image, 123, 46), sw.backCloud, 2)) << "just above the front cloud";
    sw.sync(true);
    image = snapshot(sw);
    EXPECT_TRUE(colorNear(at(image, 112, 77), ThemeSwitch::lerp(sw.nightBG, Qt::white, 0.05), 2)) << "no cloud, under the halo";
    // Left end, moon, two craters, three stars.
    for (auto [x, y, colour] : {std::tuple {10, 39, sw.nightBG}, {154, 39, sw.moon}, {129, 31, sw.spot}, {135, 52, sw.spot},
             {26, 28, QColor(Qt::white)}, {55, 27, QColor(Qt::white)}, {42, 50, QColor(Qt::white)}})
        EXPECT_TRUE(colorNear(at(image, x, y), colour, 1)) << x << "," << y;
}

TEST(DisplayWarning, TheIconIsRedOnlyWhereADisplayShowsTheFilter)
{
    Localization::shared().set(Lang::en);
    using R = GammaResult;
    const struct { std::vector<R> results; bool on, visible; const char *text, *log; } cases[] = {  // text nullptr: no warning
        {{R::applied, R::applied}, true, true, nullptr, "every display took the tables"},
        {{R::applied, R::heldByOther}, true, true, nullptr, "OUT-2 held by another program"},
        {{R::unsupported, R::heldByOther, R::unsupported}, true, false, "⚠︎ Colours cannot be set on OUT-1, OUT-3",
            "OUT-2 held by another program; OUT-1, OUT-3 take no gamma"},
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
}
