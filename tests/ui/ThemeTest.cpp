#include "ui/Theme.h"

#include "Pixels.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetricsF>
#include <QSignalSpy>
#include <QTest>

// Hex colours as tip messages carry them.

TEST(ColorFromHex, SpellingsOfTheSameColourAgree)
{
    const auto expected = Theme::colorFromHex(QStringLiteral("#FF3B30"));
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(expected->redF(), 1.0f);
    EXPECT_FLOAT_EQ(expected->greenF(), 59.0f / 255.0f);
    EXPECT_FLOAT_EQ(expected->blueF(), 48.0f / 255.0f);
    EXPECT_EQ(expected->alphaF(), 1.0f);

    for (const char* spelling : {"FF3B30", "ff3b30", "#ff3b30", "  #Ff3B30  ", "FF3B30\n", "\t#FF3B30\r\n", "\n ff3b30"}) {
        const auto color = Theme::colorFromHex(QString::fromLatin1(spelling));
        ASSERT_TRUE(color.has_value()) << spelling;
        EXPECT_EQ(color->rgba(), expected->rgba()) << spelling;
    }
}

TEST(ColorFromHex, ChannelsComeFromTheirOwnDigits)
{
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("123456"))->rgb(), qRgb(0x12, 0x34, 0x56));
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("#000000"))->rgb(), qRgb(0, 0, 0));
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("#ffffff"))->rgb(), qRgb(255, 255, 255));
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("#a0b0c0"))->rgb(), qRgb(0xa0, 0xb0, 0xc0));
}

TEST(ColorFromHex, OtherLengthsAreRefused)
{
    for (const char* text : {"", "#", "F00", "#F00", "FF3B3", "#FF3B3", "FF3B30FF", "#FF3B30FF", "FF3B300", "   "})
        EXPECT_FALSE(Theme::colorFromHex(QString::fromLatin1(text)).has_value()) << '"' << text << '"';
}

TEST(ColorFromHex, OnlyOneHashIsDropped)
{
    EXPECT_FALSE(Theme::colorFromHex(QStringLiteral("##FF3B30")).has_value());
    EXPECT_FALSE(Theme::colorFromHex(QStringLiteral("# FF3B3")).has_value());
}

TEST(ColorFromHex, StrayCharactersAreRefused)
{
    for (const char* text : {"FF3B3G", "GG0000", "FF 3B3", "0xFF3B", "FF3B3.", "red000", "+-0001", "1+0001", "++0001", "FF3B3-"})
        EXPECT_FALSE(Theme::colorFromHex(QString::fromLatin1(text)).has_value()) << text;
    // Digits of other scripts are not hexadecimal digits here.
    EXPECT_FALSE(Theme::colorFromHex(QStringLiteral("ＦＦ３Ｂ３０")).has_value());
    EXPECT_FALSE(Theme::colorFromHex(QStringLiteral("١٢٣٤٥٦")).has_value());
}

TEST(ColorFromHex, ALeadingSignIsAcceptedAndNegativesWrap)
{
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("+00010"))->rgb(), qRgb(0, 0, 0x10));
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("#+FFFFF"))->rgb(), qRgb(0x0F, 0xFF, 0xFF));
    // Low 24 bits of the two's complement.
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("-00001"))->rgb(), qRgb(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("-10000"))->rgb(), qRgb(0xFF, 0x00, 0x00));
    EXPECT_EQ(Theme::colorFromHex(QStringLiteral("-00000"))->rgb(), qRgb(0, 0, 0));
}

// The shared interface font.

TEST(SystemFont, HeavyBoldAndMediumAreRealFaces)
{
    const QFontInfo heavy(Theme::systemFont(13.75, Theme::heavy));
    const QFontInfo bold(Theme::systemFont(13.75, Theme::bold));
    const QFontInfo medium(Theme::systemFont(13.75, Theme::medium));
    EXPECT_TRUE(heavy.styleName().contains(QStringLiteral("Extra Bold")) || heavy.styleName().contains(QStringLiteral("ExtraBold"))
        || heavy.styleName().contains(QStringLiteral("Black")) || heavy.styleName().contains(QStringLiteral("Heavy")))
        << heavy.family().toStdString() << " / " << heavy.styleName().toStdString();
    EXPECT_EQ(bold.styleName(), QStringLiteral("Bold"));
    EXPECT_EQ(medium.styleName(), QStringLiteral("Medium"));
    EXPECT_EQ(heavy.family(), Theme::uiFamily());

    // The faces differ on screen: heavy strokes are wider than bold, bold than medium.
    const QString word = QStringLiteral("AMBRANO");
    const qreal wHeavy = QFontMetricsF(Theme::systemFont(100, Theme::heavy)).horizontalAdvance(word);
    const qreal wBold = QFontMetricsF(Theme::systemFont(100, Theme::bold)).horizontalAdvance(word);
    const qreal wMedium = QFontMetricsF(Theme::systemFont(100, Theme::medium)).horizontalAdvance(word);
    EXPECT_GT(wHeavy, wBold);
    EXPECT_GT(wBold, wMedium);
}

TEST(SystemFont, SizeIsInLogicalPixels)
{
    // An em of 100 pixels: text scales with the size as asked, whatever the DPI says.
    const QFont big = Theme::systemFont(100, Theme::bold);
    EXPECT_NEAR(QFontInfo(big).pixelSize(), 100, 1);
    const qreal at100 = QFontMetricsF(big).horizontalAdvance(QStringLiteral("Warmth"));
    const qreal at25 = QFontMetricsF(Theme::systemFont(25, Theme::bold)).horizontalAdvance(QStringLiteral("Warmth"));
    EXPECT_NEAR(at100 / at25, 4.0, 0.2);
}

// The flat button.

namespace {
const QColor blue(0, 0, 255);
const QColor green(0, 255, 0);

bool isDark(const QColor& c) { return c.red() < 70 && c.green() < 70 && c.blue() < 70; }
bool isGreenish(const QColor& c) { return c.green() > 150 && c.red() < 120 && c.blue() < 120; }
bool isReddish(const QColor& c) { return c.red() > 180 && c.green() < 90 && c.blue() < 90; }
}  // namespace

TEST(VeskFlatButton, StartsWithThePanelColoursAndTheGivenTitle)
{
    VeskFlatButton button(QStringLiteral("Night"));
    EXPECT_EQ(button.bg(), Theme::veskPanel());
    EXPECT_EQ(button.fg(), Theme::veskWhite());
    EXPECT_EQ(button.titleStr(), QStringLiteral("Night"));
    EXPECT_FALSE(button.active());
    EXPECT_EQ(button.fontSize(), 11.0);
    EXPECT_FALSE(button.flagMode());
    EXPECT_EQ(button.cornerRadius(), 2.0);
    EXPECT_EQ(button.titleColor(), Theme::veskWhite());
    EXPECT_EQ(button.titleFont().weight(), Theme::heavy);
    EXPECT_NEAR(button.titleFont().letterSpacing(), 1.2, 1.0 / 64);  // kept in 1/64 px
    EXPECT_EQ(button.titleFont().letterSpacingType(), QFont::AbsoluteSpacing);
}

TEST(VeskFlatButton, ActiveFillsRedWithADarkTitleWhateverItsColours)
{
    VeskFlatButton button(QStringLiteral("WARM"));
    button.resize(105, 36);
    button.setBg(blue);
    button.setFg(green);
    button.setFontSize(13.75);
    button.setCornerRadius(4.5);
    button.setActive(true);
    const QImage image = snapshot(button);

    EXPECT_TRUE(colorNear(at(image, 6, 18), Theme::veskRed(), 0));
    EXPECT_TRUE(colorNear(at(image, 98, 4), Theme::veskRed(), 0));
    EXPECT_GT(countPixels(image, isDark), 40) << "the title is drawn dark";
    EXPECT_EQ(countPixels(image, isGreenish), 0) << "fg is not used while active";
    EXPECT_EQ(countPixels(image, [](const QColor& c) { return c.blue() > 150 && c.red() < 100; }), 0) << "bg is not used while active";
    // The title sits in the middle.
    EXPECT_EQ(countPixels(image.copy(0, 0, 20, 36), isDark), 0);
    EXPECT_EQ(countPixels(image.copy(85, 0, 20, 36), isDark), 0);
    // Rounded corners: the very corner pixel is not fully covered.
    EXPECT_FALSE(colorNear(at(image, 0, 0), Theme::veskRed(), 10));
}

TEST(VeskFlatButton, InactiveFillsItsBackgroundWithItsTitleColour)
{
    VeskFlatButton button(QStringLiteral("WARM"));
    button.resize(105, 36);
    button.setBg(blue);
    button.setFg(green);
    button.setFontSize(13.75);
    const QImage image = snapshot(button);

    EXPECT_TRUE(colorNear(at(image, 6, 18), blue, 0));
    EXPECT_GT(countPixels(image, isGreenish), 40);
    EXPECT_EQ(countPixels(image, isReddish), 0);
    EXPECT_EQ(countPixels(image, isDark), 0);
}

TEST(VeskFlatButton, FlagModeShowsActiveAsATwoPixelOutline)
{
    VeskFlatButton button(QString{});
    button.resize(28, 24);
    button.setFlagMode(true);
    button.setBg(Theme::veskBlack());
    button.setActive(true);
    QImage image = snapshot(button);

    // The outline covers the outer two pixels on every side...
    for (int i : {0, 1}) {
        EXPECT_TRUE(colorNear(at(image, 14, i), Theme::veskRed(), 0)) << "top " << i;
        EXPECT_TRUE(colorNear(at(image, 14, 23 - i), Theme::veskRed(), 0)) << "bottom " << i;
        EXPECT_TRUE(colorNear(at(image, i, 12), Theme::veskRed(), 0)) << "left " << i;
        EXPECT_TRUE(colorNear(at(image, 27 - i, 12), Theme::veskRed(), 0)) << "right " << i;
    }
    // ...and the inside keeps the background.
    EXPECT_TRUE(colorNear(at(image, 14, 2), Theme::veskBlack(), 0));
    EXPECT_TRUE(colorNear(at(image, 14, 12), Theme::veskBlack(), 0));
    EXPECT_TRUE(colorNear(at(image, 2, 12), Theme::veskBlack(), 0));

    button.setActive(false);
    image = snapshot(button);
    EXPECT_EQ(countPixels(image, isReddish), 0);
    EXPECT_TRUE(colorNear(at(image, 14, 0), Theme::veskBlack(), 0));
}

TEST(VeskFlatButton, ChangingFlagModeAloneWaitsForTheNextRepaint)
{
    VeskFlatButton button(QString{});
    button.resize(28, 24);
    button.setActive(true);
    EXPECT_TRUE(colorNear(at(snapshot(button), 14, 12), Theme::veskRed(), 0));
    button.setFlagMode(true);  // grab() repaints, so the new mode shows
    EXPECT_TRUE(colorNear(at(snapshot(button), 14, 12), Theme::veskPanel(), 0));
}

TEST(VeskFlatButton, FontSizeAloneLeavesTheTitleUntilItIsRebuilt)
{
    VeskFlatButton button(QStringLiteral("AB"));
    button.resize(120, 40);
    const QImage before = snapshot(button);
    const qreal sizeBefore = button.titleFont().pointSizeF();

    button.setFontSize(24);
    EXPECT_EQ(snapshot(button), before);
    EXPECT_EQ(button.titleFont().pointSizeF(), sizeBefore);

    button.setTitleStr(QStringLiteral("AB"));
    EXPECT_NE(snapshot(button), before);
    EXPECT_GT(button.titleFont().pointSizeF(), sizeBefore * 2);
    // The bigger title has more lit pixels.
    auto lit = [](const QColor& c) { return c.red() > 128; };
    EXPECT_GT(countPixels(snapshot(button), lit), 2 * countPixels(before, lit));
}

TEST(VeskFlatButton, FgAndActiveRebuildTheTitle)
{
    VeskFlatButton button(QStringLiteral("AB"));
    button.setFontSize(20);
    button.setFg(green);
    EXPECT_EQ(button.titleColor(), green);
    EXPECT_GT(button.titleFont().pointSizeF(), Theme::systemFont(19, Theme::heavy).pointSizeF());
    button.setFontSize(11);
    button.setActive(true);
    EXPECT_EQ(button.titleColor(), Theme::veskBlack());
    EXPECT_DOUBLE_EQ(button.titleFont().pointSizeF(), Theme::systemFont(11, Theme::heavy).pointSizeF());
    button.setActive(false);
    EXPECT_EQ(button.titleColor(), green);
}

TEST(VeskFlatButton, AClickRunsTheActionOnce)
{
    int runs = 0;
    VeskFlatButton button(QStringLiteral("Go"), [&runs] { ++runs; });
    button.resize(60, 24);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(runs, 0) << "the action waits for the release";
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(runs, 1);

    // Released outside: no click.
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(30, 12));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(200, 200));
    EXPECT_EQ(runs, 1);

    button.setEnabled(false);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(30, 12));
    EXPECT_EQ(runs, 1);
}

TEST(VeskFlatButton, AnAmpersandInTheTitleIsText)
{
    VeskFlatButton button(QStringLiteral("R&D"));
    EXPECT_EQ(button.titleStr(), QStringLiteral("R&D"));
    EXPECT_TRUE(button.shortcut().isEmpty());
}
