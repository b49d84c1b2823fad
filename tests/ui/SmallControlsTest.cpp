#include "ui/ClickableArea.h"
#include "ui/FlippedView.h"
#include "ui/MiniToggle.h"
#include "ui/Theme.h"

#include "Pixels.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>

#include <memory>
#include <utility>
#include <vector>

// The pill switch at the size the panel uses: 46 x 26, a 20-pixel knob.

TEST(MiniToggle, OffDrawsTheKnobAtTheLeft)
{
    MiniToggle toggle;
    toggle.resize(46, 26);
    const QImage image = snapshot(toggle);
    const QColor white(255, 255, 255);

    for (int x : {4, 13, 21})
        EXPECT_TRUE(colorNear(at(image, x, 13), white, 0)) << x;
    EXPECT_TRUE(colorNear(at(image, 13, 4), white, 0));
    EXPECT_TRUE(colorNear(at(image, 13, 21), white, 0));
    // Track around it: left margin, right of the knob, above and below.
    for (auto [x, y] : {std::pair{1, 13}, {24, 13}, {33, 13}, {43, 13}, {13, 1}, {13, 24}})
        EXPECT_TRUE(colorNear(at(image, x, y), MiniToggle::offTrack(), 0)) << x << "," << y;
}

TEST(MiniToggle, OnDrawsTheKnobAtTheRightOnRed)
{
    MiniToggle toggle;
    toggle.resize(46, 26);
    toggle.setOn(true);
    const QImage image = snapshot(toggle);
    const QColor white(255, 255, 255);

    for (int x : {24, 33, 41})
        EXPECT_TRUE(colorNear(at(image, x, 13), white, 0)) << x;
    for (auto [x, y] : {std::pair{2, 13}, {13, 13}, {21, 13}, {44, 13}, {33, 1}})
        EXPECT_TRUE(colorNear(at(image, x, y), Theme::veskRed(), 0)) << x << "," << y;
}

TEST(MiniToggle, KnobGeometryFollowsTheHeight)
{
    // 60 x 30: knob 24 wide, at 3 off and 33 on.
    MiniToggle toggle;
    toggle.resize(60, 30);
    QImage image = snapshot(toggle);
    EXPECT_TRUE(colorNear(at(image, 4, 15), Qt::white, 0));
    EXPECT_TRUE(colorNear(at(image, 25, 15), Qt::white, 0));
    EXPECT_TRUE(colorNear(at(image, 28, 15), MiniToggle::offTrack(), 0));
    toggle.setOn(true);
    image = snapshot(toggle);
    EXPECT_TRUE(colorNear(at(image, 31, 15), Theme::veskRed(), 0));
    EXPECT_TRUE(colorNear(at(image, 34, 15), Qt::white, 0));
    EXPECT_TRUE(colorNear(at(image, 55, 15), Qt::white, 0));
    EXPECT_TRUE(colorNear(at(image, 57, 15), Theme::veskRed(), 0));
}

TEST(MiniToggle, DisabledIsDarkGreyInEitherStateAndIgnoresClicks)
{
    MiniToggle toggle;
    toggle.resize(46, 26);
    int calls = 0;
    toggle.onToggle = [&calls] { ++calls; };
    toggle.setEnabled(false);
    EXPECT_TRUE(colorNear(at(snapshot(toggle), 33, 13), MiniToggle::disabledTrack(), 0));
    toggle.setOn(true);
    EXPECT_TRUE(colorNear(at(snapshot(toggle), 13, 13), MiniToggle::disabledTrack(), 0));

    QTest::mouseClick(&toggle, Qt::LeftButton, {}, QPoint(23, 13));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(23, 13), QPointF(23, 13), Qt::LeftButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&toggle, &press);  // even delivered directly
    EXPECT_TRUE(toggle.isOn());
    EXPECT_EQ(calls, 0);
}

TEST(MiniToggle, FlipsOnThePressAndReports)
{
    MiniToggle toggle;
    toggle.resize(46, 26);
    std::vector<bool> seen;
    toggle.onToggle = [&] { seen.push_back(toggle.isOn()); };

    QTest::mousePress(&toggle, Qt::LeftButton, {}, QPoint(10, 13));
    EXPECT_TRUE(toggle.isOn());
    EXPECT_EQ(seen, std::vector<bool>{true});
    EXPECT_TRUE(colorNear(at(snapshot(toggle), 33, 13), Qt::white, 0));
    QTest::mouseRelease(&toggle, Qt::LeftButton, {}, QPoint(10, 13));
    EXPECT_EQ(seen.size(), 1u) << "the release does nothing";

    QTest::mousePress(&toggle, Qt::LeftButton, {}, QPoint(40, 13));
    EXPECT_FALSE(toggle.isOn());
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
}

TEST(MiniToggle, SettingTheStateInCodeRedrawsWithoutReporting)
{
    MiniToggle toggle;
    toggle.resize(46, 26);
    int calls = 0;
    toggle.onToggle = [&calls] { ++calls; };
    toggle.setOn(true);
    EXPECT_TRUE(colorNear(at(snapshot(toggle), 13, 13), Theme::veskRed(), 0));
    toggle.setOn(false);
    EXPECT_TRUE(colorNear(at(snapshot(toggle), 13, 13), Qt::white, 0));
    EXPECT_EQ(calls, 0);
}

TEST(MiniToggle, PointingHandOnlyWhileEnabled)
{
    QWidget parent;
    auto* toggle = new MiniToggle(&parent);
    EXPECT_TRUE(toggle->testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(toggle->cursor().shape(), Qt::PointingHandCursor);
    toggle->setEnabled(false);
    EXPECT_FALSE(toggle->testAttribute(Qt::WA_SetCursor)) << "the cursor of what lies beneath";
    EXPECT_NE(toggle->cursor().shape(), Qt::PointingHandCursor);
    toggle->setEnabled(true);
    EXPECT_EQ(toggle->cursor().shape(), Qt::PointingHandCursor);

    // Disabled through its parent as well.
    parent.setEnabled(false);
    EXPECT_FALSE(toggle->testAttribute(Qt::WA_SetCursor));
    parent.setEnabled(true);
    EXPECT_EQ(toggle->cursor().shape(), Qt::PointingHandCursor);
}

// The invisible link overlay, with real clicks through the window.

namespace {

class PressCounter : public QWidget {
public:
    using QWidget::QWidget;
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        ++presses;
        event->accept();
    }
};

struct LinkScene {
    FlippedView root;
    PressCounter* beneath;
    ClickableArea* area;
    int clicks = 0;

    LinkScene()
    {
        root.resize(200, 100);
        beneath = new PressCounter(&root);
        beneath->setGeometry(0, 0, 200, 100);
        area = new ClickableArea(&root);
        area->setGeometry(50, 30, 80, 24);
        area->onClick = [this] { ++clicks; };
        root.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&root));
    }
    void clickAt(QPoint p) { QTest::mouseClick(root.windowHandle(), Qt::LeftButton, {}, p); }
};

}  // namespace

TEST(ClickableArea, InertLetsClicksAndTheCursorThrough)
{
    LinkScene scene;
    EXPECT_FALSE(scene.area->showLink());
    scene.clickAt(QPoint(90, 40));
    EXPECT_EQ(scene.beneath->presses, 1);
    EXPECT_EQ(scene.clicks, 0);
    EXPECT_EQ(scene.root.childAt(90, 40), scene.beneath);
    EXPECT_FALSE(scene.area->testAttribute(Qt::WA_SetCursor));
}

TEST(ClickableArea, LiveTakesTheClickAndShowsTheHand)
{
    LinkScene scene;
    scene.area->setShowLink(true);
    scene.clickAt(QPoint(90, 40));
    EXPECT_EQ(scene.clicks, 1);
    EXPECT_EQ(scene.beneath->presses, 0);
    EXPECT_EQ(scene.root.childAt(90, 40), scene.area);
    EXPECT_EQ(scene.area->cursor().shape(), Qt::PointingHandCursor);

    // Outside the area the widget beneath still gets its clicks.
    scene.clickAt(QPoint(10, 10));
    EXPECT_EQ(scene.beneath->presses, 1);
    EXPECT_EQ(scene.clicks, 1);

    // Back to inert.
    scene.area->setShowLink(false);
    scene.clickAt(QPoint(90, 40));
    EXPECT_EQ(scene.clicks, 1);
    EXPECT_EQ(scene.beneath->presses, 2);
}

TEST(ClickableArea, LiveWithoutCallbackSwallowsTheClick)
{
    LinkScene scene;
    scene.area->onClick = nullptr;
    scene.area->setShowLink(true);
    scene.clickAt(QPoint(90, 40));
    EXPECT_EQ(scene.beneath->presses, 0);
}

TEST(ClickableArea, TheCallbackMayReplaceItself)
{
    // An owner rebuilding its views from inside the callback drops the running callback.
    LinkScene scene;
    scene.area->setShowLink(true);
    auto runs = std::make_shared<int>(0);
    scene.area->onClick = [&scene, runs] {
        scene.area->onClick = nullptr;
        ++*runs;  // still this callback's own state
    };
    scene.clickAt(QPoint(90, 40));
    EXPECT_EQ(*runs, 1);
    scene.clickAt(QPoint(90, 40));
    EXPECT_EQ(*runs, 1);
}

TEST(ClickableArea, DrawsNothing)
{
    FlippedView root;
    root.resize(60, 40);
    root.setAutoFillBackground(true);
    QPalette pal = root.palette();
    pal.setColor(QPalette::Window, QColor(10, 200, 30));
    root.setPalette(pal);
    auto* area = new ClickableArea(&root);
    area->setGeometry(0, 0, 60, 40);
    area->setShowLink(true);
    const QImage image = snapshot(root);
    EXPECT_EQ(countPixels(image, [](const QColor& c) { return c != QColor(10, 200, 30); }), 0);
}
