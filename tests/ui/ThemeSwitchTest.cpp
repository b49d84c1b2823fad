#include "ui/ThemeSwitch.h"

#include "Pixels.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>

#include <cmath>

// The panel's switch is 164 x 79. Sample points are chosen from the layout's proportions:
// knob d = 0.82h = 64.78, margin 7.11, centre (39.5, 39.5) by day and (124.5, 39.5) at night;
// its halo reaches 67 from the centre.

namespace {

constexpr int W = 164;
constexpr int H = 79;

bool sunny(const QColor& c) { return c.red() > 140 && c.green() > 110 && c.blue() < 140 && c.red() > c.blue() + 80; }
int brightness(const QColor& c) { return c.red() + c.green() + c.blue(); }

QImage drawnAt(ThemeSwitch& sw, double p)
{
    QImage image(W, H, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    sw.paintContent(painter, QSizeF(W, H), p);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

double smoothstep(double t) { return t * t * (3.0 - 2.0 * t); }

class ThemeSwitchTest : public ::testing::Test {
protected:
    ThemeSwitchTest()
    {
        sw.resize(W, H);
        sw.setClock([this] { return now; });
        sw.onToggle = [this] { ++toggles; };
    }
    // Waits for a tick after the clock moved.
    bool progressReaches(double expected)
    {
        return waitFor([&] { return std::abs(sw.progress() - expected) < 1e-9; }, 2000);
    }

    ThemeSwitch sw;
    double now = 100.0;
    int toggles = 0;
};

}  // namespace

TEST_F(ThemeSwitchTest, StartsOffByDay)
{
    EXPECT_FALSE(sw.isOn());
    EXPECT_EQ(sw.progress(), 0.0);
    EXPECT_FALSE(sw.isAnimating());
    EXPECT_EQ(sw.cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(ThemeSwitchTest, DayPicture)
{
    const QImage image = snapshot(sw);
    // Sky.
    EXPECT_TRUE(colorNear(at(image, 147, 12), sw.dayBG, 1));
    EXPECT_TRUE(colorNear(at(image, 154, 39), sw.dayBG, 1)) << "no knob at the right end";
    // The sun touches the left end.
    EXPECT_TRUE(sunny(at(image, 10, 39)));
    EXPECT_TRUE(sunny(at(image, 68, 39)));
    // Clouds: front bank alone, front bank under the halo, back cloud under the halo.
    EXPECT_TRUE(colorNear(at(image, 112, 77), sw.cloud, 2));
    EXPECT_TRUE(colorNear(at(image, 90, 74), over(sw.cloud, Qt::white, 0.05), 2));
    EXPECT_TRUE(colorNear(at(image, 100, 32), over(sw.backCloud, Qt::white, 0.05), 2));
    // No stars or craters: their places show the sun (pale near its highlight, never the
    // stars' pure white or the craters' blue-grey).
    EXPECT_LT(at(image, 26, 28).blue(), 245);
    EXPECT_TRUE(sunny(at(image, 55, 27)));
    EXPECT_GT(at(image, 44, 31).red(), at(image, 44, 31).blue() + 60);
}

TEST_F(ThemeSwitchTest, SunHighlightIsUpAndToTheLeft)
{
    const QImage image = snapshot(sw);
    const double d = 0.82 * H;
    const double cx = 39.5;
    const double cy = 39.5;
    const QColor upLeft = at(image, int(cx - 0.16 * d), int(cy - 0.09 * d));
    const QColor downRight = at(image, int(cx + 0.16 * d), int(cy + 0.09 * d));
    const QColor centre = at(image, int(cx), int(cy));
    EXPECT_GT(brightness(upLeft), brightness(centre) + 30);
    EXPECT_GT(brightness(centre), brightness(downRight) + 30);
    EXPECT_GT(upLeft.blue(), 150) << "close to the pale highlight";
    // Towards the rim the gold darkens.
    const QColor rim = at(image, int(cx + 0.45 * d), int(cy));
    EXPECT_LT(brightness(rim), brightness(sw.sun) - 40);
    EXPECT_GT(brightness(rim), brightness(sw.sunLo));
    EXPECT_TRUE(rim.red() > rim.green() && rim.green() > rim.blue());
}

TEST_F(ThemeSwitchTest, KnobCastsItsShadowDownwards)
{
    const QImage image = snapshot(sw);
    const QColor below = at(image, 39, 73);  // just under the knob
    const QColor above = at(image, 39, 5);   // just over it
    EXPECT_LT(below.blue(), sw.dayBG.blue() - 12);
    EXPECT_LT(below.blue(), above.blue() - 8);
    EXPECT_TRUE(colorNear(at(image, 39, 1), sw.dayBG, 3)) << "the shadow is soft, not wide";
}

TEST_F(ThemeSwitchTest, NightPicture)
{
    sw.sync(true);
    const QImage image = snapshot(sw);
    EXPECT_TRUE(colorNear(at(image, 12, 39), sw.nightBG, 1));
    EXPECT_TRUE(colorNear(at(image, 10, 39), sw.nightBG, 1)) << "no knob at the left end";
    // A flat moon touching the right end, with a crater at full strength.
    EXPECT_TRUE(colorNear(at(image, 154, 39), sw.moon, 1));
    EXPECT_TRUE(colorNear(at(image, 105, 26), sw.moon, 1));
    EXPECT_TRUE(colorNear(at(image, 129, 31), sw.spot, 1));
    // Stars at full strength.
    EXPECT_TRUE(colorNear(at(image, 26, 28), Qt::white, 1));
    EXPECT_TRUE(colorNear(at(image, 55, 27), Qt::white, 1));
    // No clouds: the bank's places show the night sky (under the halo).
    EXPECT_TRUE(colorNear(at(image, 112, 77), over(sw.nightBG, Qt::white, 0.05), 2));
    EXPECT_TRUE(colorNear(at(image, 90, 74), over(sw.nightBG, Qt::white, 0.05), 2));
}

TEST_F(ThemeSwitchTest, HalfWayEverythingBlends)
{
    const QImage image = drawnAt(sw, 0.5);
    const QColor mid = ThemeSwitch::lerp(sw.dayBG, sw.nightBG, 0.5);
    EXPECT_TRUE(colorNear(at(image, 10, 39), mid, 2));
    EXPECT_TRUE(colorNear(at(image, 26, 28), over(over(mid, Qt::white, 0.5), Qt::white, 0.05), 3)) << "star at half";
    EXPECT_TRUE(colorNear(at(image, 112, 77), over(over(mid, sw.cloud, 0.5), Qt::white, 0.05), 3)) << "cloud at half";
    // The knob is centred: both ends show sky, the middle does not.
    EXPECT_TRUE(colorNear(at(image, 154, 39), mid, 2));
    EXPECT_FALSE(colorNear(at(image, 82, 60), mid, 20));
}

TEST_F(ThemeSwitchTest, ColoursLerpPerChannel)
{
    const QColor a(0, 100, 200);
    const QColor b(200, 0, 100);
    EXPECT_EQ(ThemeSwitch::lerp(a, b, 0.0).rgb(), a.rgb());
    EXPECT_EQ(ThemeSwitch::lerp(a, b, 1.0).rgb(), b.rgb());
    EXPECT_EQ(ThemeSwitch::lerp(a, b, 0.25).rgb(), qRgb(50, 75, 175));
    EXPECT_EQ(ThemeSwitch::lerp(QColor(0, 0, 0, 10), QColor(0, 0, 0, 20), 0.5).alpha(), 255);
}

TEST_F(ThemeSwitchTest, AClickFlipsAndAnimatesOverTheFullDuration)
{
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_TRUE(sw.isOn());
    EXPECT_EQ(toggles, 1);
    EXPECT_TRUE(sw.isAnimating());
    EXPECT_EQ(sw.progress(), 0.0) << "the picture moves with the frames, not at once";

    now += 0.1;
    ASSERT_TRUE(progressReaches(smoothstep(0.1 / 0.45)));
    now += 0.2;
    ASSERT_TRUE(progressReaches(smoothstep(0.3 / 0.45)));
    EXPECT_TRUE(sw.isAnimating());
    now += 0.15;
    ASSERT_TRUE(progressReaches(1.0));
    EXPECT_TRUE(waitFor([&] { return !sw.isAnimating(); }, 1000));
    EXPECT_EQ(toggles, 1);
}

TEST_F(ThemeSwitchTest, ASecondClickReversesFromWhereItIs)
{
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(40, 40));
    now += 0.2;
    const double reached = smoothstep(0.2 / 0.45);
    ASSERT_TRUE(progressReaches(reached));

    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_FALSE(sw.isOn());
    EXPECT_EQ(toggles, 2);
    now += 0.225;  // half of a full 0.45 s run back to day
    ASSERT_TRUE(progressReaches(reached * 0.5));
    now += 0.224;
    ASSERT_TRUE(progressReaches(reached * (1.0 - smoothstep(0.449 / 0.45))));
    EXPECT_TRUE(sw.isAnimating());
    now += 0.001;
    ASSERT_TRUE(progressReaches(0.0));
    EXPECT_TRUE(waitFor([&] { return !sw.isAnimating(); }, 1000));
}

TEST_F(ThemeSwitchTest, RunsOnTheRealClock)
{
    ThemeSwitch real;
    real.resize(W, H);
    QTest::mousePress(&real, Qt::LeftButton, {}, QPoint(40, 40));
    ASSERT_TRUE(waitFor([&] { return !real.isAnimating(); }, 5000));
    EXPECT_EQ(real.progress(), 1.0);
    EXPECT_TRUE(colorNear(at(snapshot(real), 154, 39), real.moon, 1));
}

TEST_F(ThemeSwitchTest, SyncJumpsWithoutReporting)
{
    sw.sync(true);
    EXPECT_TRUE(sw.isOn());
    EXPECT_EQ(sw.progress(), 1.0);
    EXPECT_FALSE(sw.isAnimating());
    sw.sync(true);
    EXPECT_EQ(sw.progress(), 1.0);
    sw.sync(false);
    EXPECT_EQ(sw.progress(), 0.0);
    EXPECT_EQ(toggles, 0);
}

TEST_F(ThemeSwitchTest, SyncToTheSameStateLeavesAnAnimationRunning)
{
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(40, 40));
    now += 0.1;
    ASSERT_TRUE(progressReaches(smoothstep(0.1 / 0.45)));
    sw.sync(true);
    EXPECT_TRUE(sw.isAnimating());
    now += 0.35;
    EXPECT_TRUE(progressReaches(1.0));
}

TEST_F(ThemeSwitchTest, SyncToTheOtherStateStopsAnAnimation)
{
    // Otherwise the old animation would carry the picture back to the state just left.
    QTest::mousePress(&sw, Qt::LeftButton, {}, QPoint(40, 40));
    now += 0.1;
    ASSERT_TRUE(progressReaches(smoothstep(0.1 / 0.45)));
    sw.sync(false);
    EXPECT_FALSE(sw.isOn());
    EXPECT_FALSE(sw.isAnimating());
    EXPECT_EQ(sw.progress(), 0.0);
    now += 0.5;
    spin(100);
    EXPECT_EQ(sw.progress(), 0.0);
    EXPECT_EQ(toggles, 1);
}

TEST_F(ThemeSwitchTest, ScalesWithItsSize)
{
    // Twice the panel's size: the same picture at twice the coordinates.
    ThemeSwitch big;
    big.resize(2 * W, 2 * H);
    const QImage image = snapshot(big);
    EXPECT_TRUE(colorNear(at(image, 2 * 147, 2 * 12), big.dayBG, 1));
    EXPECT_TRUE(colorNear(at(image, 2 * 112, 2 * 77), big.cloud, 2));
    EXPECT_TRUE(sunny(at(image, 2 * 10, 2 * 39)));
    big.sync(true);
    const QImage night = snapshot(big);
    EXPECT_TRUE(colorNear(at(night, 2 * 154, 2 * 39), big.moon, 1));
    EXPECT_TRUE(colorNear(at(night, 2 * 129 + 1, 2 * 31 + 1), big.spot, 1));
}
