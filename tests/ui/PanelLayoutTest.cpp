// The built panel's geometry, fonts, colours and texts.

#include "PanelFixture.h"
#include "Pixels.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QTest>

#include <cmath>

namespace {

::testing::AssertionResult sameFont(const QFont& actual, double size, QFont::Weight weight)
{
    const QFont expected = Theme::systemFont(size, weight);
    const QFontInfo a(actual);
    const QFontInfo e(expected);
    if (a.family() == e.family() && a.styleName() == e.styleName() && std::abs(actual.pointSizeF() - expected.pointSizeF()) < 1e-6)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a.family().toStdString() << " " << a.styleName().toStdString() << " "
                                         << actual.pointSizeF() << "pt, expected " << e.family().toStdString() << " "
                                         << e.styleName().toStdString() << " " << expected.pointSizeF() << "pt";
}

QColor textColor(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

}  // namespace

TEST_F(PanelTest, RootIsA372WideBlackPanel)
{
    PopoverViewController& p = make();
    FlippedView* root = p.view();
    EXPECT_EQ(root->width(), 372);
    EXPECT_EQ(p.preferredContentSize().width(), 372);
    EXPECT_EQ(root->height(), p.preferredContentSize().height());
    const QImage image = snapshot(*root);
    EXPECT_TRUE(colorNear(at(image, 5, 5), Theme::veskBlack(), 1));
    EXPECT_TRUE(colorNear(at(image, 366, 300), Theme::veskBlack(), 1));
}

TEST_F(PanelTest, PresetsSplitTheColumnEndingAt352)
{
    PopoverViewController& p = make();
    ASSERT_EQ(p.presets().size(), 3u);
    const char* keys[] = {"day", "evening", "night"};
    int previousRight = -1;
    for (int i = 0; i < 3; ++i) {
        const auto& preset = p.presets()[i];
        const QRect g = preset.btn->geometry();
        EXPECT_EQ(preset.key, QLatin1String(keys[i]));
        EXPECT_EQ(g.y(), 246);
        EXPECT_EQ(g.height(), 36);
        // 105.33 wide at a pitch of 113.33, on whole pixels.
        EXPECT_NEAR(g.x(), 20 + i * 340.0 / 3, 0.5) << i;
        EXPECT_NEAR(g.width(), 316.0 / 3, 1.0) << i;
        if (previousRight >= 0) {
            EXPECT_NEAR(g.x() - previousRight, 8, 1) << i;
        }
        previousRight = g.x() + g.width();
        EXPECT_EQ(preset.btn->fontSize(), 13.75);
        EXPECT_EQ(preset.btn->cornerRadius(), 4.5);
        EXPECT_FALSE(preset.btn->flagMode());
    }
    EXPECT_EQ(p.presets()[0].btn->x(), 20);
    EXPECT_EQ(p.presets()[2].btn->x() + p.presets()[2].btn->width(), 352);
    EXPECT_EQ(p.presets()[0].btn->titleStr(), QStringLiteral("DAY"));
    EXPECT_EQ(p.presets()[1].btn->titleStr(), QStringLiteral("EVENING"));
    EXPECT_EQ(p.presets()[2].btn->titleStr(), QStringLiteral("NIGHT"));
    EXPECT_NEAR(p.presets()[0].warmth, 450.0 / 11, 1e-9);
    EXPECT_NEAR(p.presets()[1].warmth, 684.0 / 11, 1e-9);
    EXPECT_EQ(p.presets()[2].warmth, 100.0);
}

// In every language the two rows share their left edge, and the group of switch, gap and
// the longer caption (as measured in the font the labels really use) is centred in the column.
TEST_F(PanelTest, SwitchRowsCentreOnTheLongerCaptionInEveryLanguage)
{
    PopoverViewController& p = make();
    for (Lang lang : {Lang::en, Lang::es, Lang::ca}) {
        Localization::shared().set(lang);
        const QFontMetricsF pwmMetrics(p.pwmLabel()->font());
        const QFontMetricsF autoMetrics(p.autoLabel()->font());
        const double pwmW = std::floor(pwmMetrics.horizontalAdvance(L(QStringLiteral("pwm"))));
        const double autoW = std::floor(autoMetrics.horizontalAdvance(L(QStringLiteral("auto_short"))));
        const double longest = std::max(pwmW, autoW);
        const double sx = (332 - (longest + 58)) * 0.5 + 20;

        EXPECT_NEAR(p.pwmSwitch()->x(), sx, 0.5) << rawValue(lang).toStdString();
        EXPECT_EQ(p.autoSwitch()->x(), p.pwmSwitch()->x());
        EXPECT_EQ(p.pwmSwitch()->geometry().size(), QSize(46, 26));
        EXPECT_EQ(p.autoSwitch()->geometry().size(), QSize(46, 26));
        EXPECT_EQ(p.pwmSwitch()->y(), 323);
        EXPECT_EQ(p.autoSwitch()->y(), 357);
        EXPECT_EQ(p.pwmLabel()->x(), p.pwmSwitch()->x() + 58);
        EXPECT_EQ(p.autoLabel()->x(), p.pwmSwitch()->x() + 58);
        EXPECT_EQ(p.pwmLabel()->y(), 328);
        EXPECT_EQ(p.autoLabel()->y(), 362);
        EXPECT_EQ(p.pwmLabel()->x() + p.pwmLabel()->width(), 352);
        EXPECT_EQ(p.pwmLabel()->height(), 20);
        // The group's middle is the column's middle (186), within the rounding to pixels.
        const double groupMiddle = p.pwmSwitch()->x() + (longest + 58) / 2;
        EXPECT_NEAR(groupMiddle, 186, 0.5);
        // Both captions fit their labels.
        EXPECT_LE(pwmW, p.pwmLabel()->width());
        EXPECT_LE(autoW, p.autoLabel()->width());
    }
}

TEST_F(PanelTest, FontsAndColoursOfTheCaptions)
{
    PopoverViewController& p = make();
    EXPECT_TRUE(sameFont(p.warmthLabel()->font(), 13.75, Theme::heavy));
    EXPECT_TRUE(sameFont(p.brightLabel()->font(), 13.75, Theme::heavy));
    EXPECT_TRUE(sameFont(p.warmthValue()->font(), 13.75, Theme::bold));
    EXPECT_TRUE(sameFont(p.brightValue()->font(), 13.75, Theme::bold));
    EXPECT_TRUE(sameFont(p.pwmLabel()->font(), 13.75, Theme::heavy));
    EXPECT_TRUE(sameFont(p.autoLabel()->font(), 13.75, Theme::heavy));
    EXPECT_TRUE(sameFont(p.subtitle()->font(), 17, Theme::bold));
    EXPECT_TRUE(sameFont(p.filterOffLabel()->font(), 17, Theme::heavy));
    EXPECT_TRUE(sameFont(p.filterOnLabel()->font(), 17, Theme::heavy));
    EXPECT_TRUE(sameFont(p.tipLabel()->font(), 17.8125, Theme::medium));
    // Heavy, bold and medium are three faces, not one.
    EXPECT_NE(QFontInfo(p.warmthLabel()->font()).styleName(), QFontInfo(p.warmthValue()->font()).styleName());
    EXPECT_NE(QFontInfo(p.warmthValue()->font()).styleName(), QFontInfo(p.tipLabel()->font()).styleName());

    EXPECT_TRUE(colorNear(textColor(p.titleLabel()), Theme::veskRed(), 0));
    EXPECT_TRUE(colorNear(textColor(p.warmthLabel()), Theme::veskWhite(), 0));
    EXPECT_TRUE(colorNear(textColor(p.warmthValue()), Theme::veskRed(), 0));
    EXPECT_TRUE(colorNear(textColor(p.subtitle()), Theme::veskGray(), 0));
    EXPECT_EQ(p.warmthLabel()->text(), QStringLiteral("WARMTH"));
    EXPECT_EQ(p.brightLabel()->text(), QStringLiteral("BRIGHTNESS"));
    EXPECT_EQ(p.pwmLabel()->text(), QStringLiteral("PWM-SAFE MODE"));
    EXPECT_EQ(p.autoLabel()->text(), QStringLiteral("AUTOMATIC"));
    EXPECT_TRUE(p.warmthValue()->alignment() & Qt::AlignRight);
    EXPECT_TRUE(p.warmthLabel()->alignment() & Qt::AlignLeft);

    // What is drawn: red pixels of the value text at the right end of its frame, none at the left.
    const QImage image = snapshot(*p.view());
    auto redIn = [&image](QRect area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = at(image, x, y);
                n += c.red() > 200 && c.green() < 90 && c.blue() < 90;
            }
        return n;
    };
    EXPECT_GT(redIn(QRect(312, 110, 40, 16)), 20);
    EXPECT_EQ(redIn(QRect(242, 110, 40, 16)), 0);
}

TEST_F(PanelTest, TitleFillsAtMost232PixelsAndNeverExceeds24)
{
    const double s = PanelLayout::titleFontSize();
    EXPECT_LE(s, 24.0);
    const double width = QFontMetricsF(Theme::systemFont(s, Theme::heavy)).horizontalAdvance(QStringLiteral("Ambrano"));
    EXPECT_LE(width, 232.5);
    // Either capped at 24, or scaled to fill the 232 pixels.
    if (s < 24.0) {
        EXPECT_NEAR(width, 232.0, 3.0);
    }

    PopoverViewController& p = make();
    EXPECT_EQ(p.titleLabel()->text(), QStringLiteral("Ambrano"));
    EXPECT_TRUE(sameFont(p.titleLabel()->font(), s, Theme::heavy));
    EXPECT_TRUE(p.titleLabel()->alignment() & Qt::AlignLeft);
}

TEST_F(PanelTest, FilterCaptionsBreakAtTheFirstBlankBesideTheSwitch)
{
    EXPECT_EQ(PanelLayout::twoLineCaption(QStringLiteral("Filter off")), QStringLiteral("Filter\noff"));
    EXPECT_EQ(PanelLayout::twoLineCaption(QStringLiteral("  Filtre encès")), QStringLiteral("Filtre\nencès"));
    EXPECT_EQ(PanelLayout::twoLineCaption(QStringLiteral("Off")), QStringLiteral("Off"));
    EXPECT_EQ(PanelLayout::twoLineCaption(QStringLiteral("a b c")), QStringLiteral("a\nb c"));

    PopoverViewController& p = make();
    EXPECT_EQ(p.filterOffLabel()->text(), QStringLiteral("Filter\noff"));
    EXPECT_EQ(p.filterOnLabel()->text(), QStringLiteral("Filter\non"));
    EXPECT_TRUE(p.filterOffLabel()->alignment() & Qt::AlignRight);
    EXPECT_TRUE(p.filterOnLabel()->alignment() & Qt::AlignLeft);
    // 6, 446.5, 94, 42 and 272, 446.5, 94, 42 on whole pixels: the same middle, 467.5.
    for (QLabel* label : {p.filterOffLabel(), p.filterOnLabel()}) {
        EXPECT_EQ(label->width(), 94);
        EXPECT_NEAR(label->y() + label->height() / 2.0, 446.5 + 21, 0.01);
        EXPECT_GE(label->height(), 42);
        EXPECT_LE(label->height(), 43);
    }
    EXPECT_EQ(p.filterOffLabel()->x(), 6);
    EXPECT_EQ(p.filterOnLabel()->x(), 272);
    // Two lines fit.
    EXPECT_LE(QFontMetricsF(p.filterOnLabel()->font()).lineSpacing() * 2, p.filterOnLabel()->height() + 1);
}

TEST_F(PanelTest, CreditsUnderlineTheAuthorAndTheLinkCoversIt)
{
    using P = std::pair<QString, QString>;
    EXPECT_EQ(PanelLayout::creditsParts(QStringLiteral("by Marren")), P(QStringLiteral("by "), QStringLiteral("Marren")));
    // Anything after the name is dropped.
    EXPECT_EQ(PanelLayout::creditsParts(QStringLiteral("made by Marren in 2024")),
        P(QStringLiteral("made by "), QStringLiteral("Marren")));
    // Without the name: the whole text, one blank, then the name.
    EXPECT_EQ(PanelLayout::creditsParts(QStringLiteral("Hecho con cariño")),
        P(QStringLiteral("Hecho con cariño "), QStringLiteral("Marren")));

    PopoverViewController& p = make();
    const QFontMetricsF metrics(p.subtitle()->font());
    const double pw = metrics.horizontalAdvance(QStringLiteral("by "));
    const double nw = metrics.horizontalAdvance(QStringLiteral("Marren"));
    const QRect link = p.authorLink()->geometry();
    EXPECT_NEAR(link.x(), 20 + pw, 0.5);
    EXPECT_NEAR(link.width(), nw + 6, 1.0);
    EXPECT_EQ(link.y(), 38);
    EXPECT_EQ(link.height(), 24);
    EXPECT_TRUE(p.authorLink()->showLink());

    // The underline: a row of grey pixels under the name, none under the prefix.
    const QImage image = snapshot(*p.view());
    auto greyRun = [&image](int x0, int x1, int y) {
        int n = 0;
        for (int x = x0; x < x1; ++x) {
            const QColor c = at(image, x, y);
            n += c.red() > 80 && std::abs(c.red() - c.green()) < 6 && std::abs(c.red() - c.blue()) < 6;
        }
        return n;
    };
    int underlineRow = -1;
    for (int y = 50; y < 62 && underlineRow < 0; ++y) {
        if (greyRun(link.x() + 1, link.x() + static_cast<int>(nw) - 1, y) >= static_cast<int>(nw) - 3)
            underlineRow = y;
    }
    ASSERT_GE(underlineRow, 0) << "no underline under the name";
    EXPECT_LT(greyRun(20, 20 + static_cast<int>(pw) - 4, underlineRow), static_cast<int>(pw) / 2);
}

TEST_F(PanelTest, SliderTrackIsRedUpToTheKnob)
{
    PopoverViewController& p = make();
    engine.setWarmth(30);
    p.refresh();
    VeskSlider* slider = p.warmthSlider();
    EXPECT_NEAR(slider->doubleValue(), 30, 0.01);
    const QImage image = snapshot(*p.view()).copy(slider->geometry());
    // The knob's middle sits at about 30 % of the track; red before it, grey after.
    EXPECT_TRUE(colorNear(at(image, 20, 10), Theme::veskRed(), 2));
    EXPECT_TRUE(colorNear(at(image, 70, 10), Theme::veskRed(), 2));
    EXPECT_TRUE(colorNear(at(image, 200, 10), VeskSlider::emptyTrack(), 2));
    EXPECT_TRUE(colorNear(at(image, 320, 10), VeskSlider::emptyTrack(), 2));
    // Off the track's 4-pixel line it is the panel.
    EXPECT_TRUE(colorNear(at(image, 200, 3), Theme::veskBlack(), 2));
    // The white knob.
    const int knobX = 9 + static_cast<int>((332 - 18) * 0.30);
    EXPECT_TRUE(colorNear(at(image, knobX, 10), Qt::white, 2)) << knobX;
}

TEST_F(PanelTest, BarsAreAmberAndRedWithHeavyNinePointTitles)
{
    PopoverViewController& p = make();
    EXPECT_TRUE(colorNear(p.flickerBar()->bg(), QColor::fromRgbF(0.55f, 0.28f, 0.0f), 1));
    EXPECT_TRUE(colorNear(p.flickerBar()->fg(), Theme::veskWhite(), 0));
    EXPECT_EQ(p.flickerBar()->fontSize(), 9);
    EXPECT_TRUE(colorNear(p.conflictBar()->bg(), Theme::veskRed(), 0));
    EXPECT_EQ(p.conflictBar()->fontSize(), 9);
    EXPECT_FALSE(p.conflictBar()->isEnabled());
    EXPECT_TRUE(p.flickerBar()->isHidden());
    EXPECT_TRUE(p.conflictBar()->isHidden());
    EXPECT_TRUE(sameFont(p.flickerBar()->titleFont(), 9, Theme::heavy));
}
