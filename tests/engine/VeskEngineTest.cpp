#include "engine/VeskEngine.h"

#include "FakeDisplayServices.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <vector>

namespace {

class VeskEngineTest : public ::testing::Test {
protected:
    VeskEngineTest()
    {
        displays.addDisplay(1, true);
        displays.addDisplay(2);
        engine.setDisplayServices(&displays);
        engine.onChange = [this](bool on) { changes.push_back(on); };
    }

    FreshSettings settings;
    FakeDisplayServices displays;
    VeskEngine engine;
    std::vector<bool> changes;
};

}  // namespace

TEST_F(VeskEngineTest, StartsOffWithItsDefaultsAndWritesNothing)
{
    EXPECT_FALSE(engine.enabled());
    EXPECT_DOUBLE_EQ(engine.warmth(), 62.0);
    EXPECT_DOUBLE_EQ(engine.brightness(), 100.0);
    EXPECT_EQ(displays.writes, 0);
}

TEST_F(VeskEngineTest, EnablingWritesTheSameTablesToEveryDisplay)
{
    engine.setEnabled(true);
    ASSERT_EQ(displays.tables.size(), 2u);
    const TransferTables& a = displays.tables.at(1);
    EXPECT_NEAR(a.red[255], 1.0, 1e-6);
    EXPECT_NEAR(a.green[255], 0.6554, 1e-4);
    EXPECT_NEAR(a.blue[255], 0.3463, 1e-4);
    EXPECT_EQ(a.green, displays.tables.at(2).green);
    EXPECT_EQ(changes, std::vector<bool>{true});
}

TEST_F(VeskEngineTest, DisablingRestoresAndTells)
{
    engine.setEnabled(true);
    engine.setEnabled(false);
    EXPECT_TRUE(displays.tables.empty());
    EXPECT_GE(displays.restores, 1);
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    engine.toggle();
    EXPECT_TRUE(engine.enabled());
    EXPECT_EQ(changes.back(), true);
}

TEST_F(VeskEngineTest, ValuesAreClampedOnEntry)
{
    engine.setWarmth(150);
    EXPECT_DOUBLE_EQ(engine.warmth(), 100.0);
    engine.setWarmth(-3);
    EXPECT_DOUBLE_EQ(engine.warmth(), 0.0);
    engine.setBrightness(250);
    EXPECT_DOUBLE_EQ(engine.brightness(), 100.0);
    engine.setBrightness(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(engine.brightness(), 100.0);
    EXPECT_TRUE(changes.empty());  // no callback for value changes
}

TEST_F(VeskEngineTest, TheFloorBoundsTheBrightnessAndARisingFloorLiftsIt)
{
    engine.setBrightness(3);
    EXPECT_DOUBLE_EQ(engine.brightness(), 10.0);
    engine.setBrightnessFloor(1.0);  // extreme dimming allowed
    engine.setBrightness(0.2);
    EXPECT_DOUBLE_EQ(engine.brightness(), 1.0);
    engine.setBrightness(3);
    engine.setEnabled(true);

    engine.setBrightnessFloor(10.0);  // and switched off again
    EXPECT_DOUBLE_EQ(engine.brightness(), 10.0);
    EXPECT_NEAR(displays.tables.at(1).red[255], 0.10, 1e-6);  // re-applied at once
    engine.setBrightnessFloor(1.0);  // a lower floor leaves the brightness where it is
    engine.setBrightnessFloor(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(engine.brightness(), 10.0);
    engine.setBrightness(3);
    EXPECT_DOUBLE_EQ(engine.brightness(), 3.0);
}

TEST_F(VeskEngineTest, NoDisplaysMeansNothingWritten)
{
    displays.displays.clear();
    engine.setEnabled(true);
    EXPECT_EQ(displays.writes, 0);
}

TEST_F(VeskEngineTest, AnimationTurnsTheFilterOnOnceAndReachesTheTarget)
{
    std::vector<double> steps;
    engine.onWarmthAnim = [&steps](double w) { steps.push_back(w); };
    QElapsedTimer clock;
    clock.start();
    engine.animateWarmth(100);
    EXPECT_TRUE(engine.enabled());
    EXPECT_EQ(changes, std::vector<bool>{true});
    ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }, 3000));
    EXPECT_DOUBLE_EQ(engine.warmth(), 100.0);
    EXPECT_DOUBLE_EQ(steps.back(), 100.0);
    // Smooth: each step moves forward, and there are many of them (60 Hz over 0.35 s).
    for (size_t i = 1; i < steps.size(); ++i)
        EXPECT_GE(steps[i], steps[i - 1]);
    EXPECT_GE(steps.size(), 10u);
    EXPECT_NEAR(displays.tables.at(1).green[255], 0.0, 1e-9);
    EXPECT_EQ(changes.size(), 1u);
}

TEST_F(VeskEngineTest, AnimationStepsNeverComeBeforeTheirPlaceOnThe60HzGrid)
{
    // A step ahead of its deadline finds the animation short of its end and adds one more:
    // 0.35 s must stay at most 21 steps, the last exactly on the target.
    std::vector<qint64> at;
    QElapsedTimer clock;
    engine.onWarmthAnim = [&](double) { at.push_back(clock.nsecsElapsed()); };
    for (int run = 0; run < 3; ++run) {
        at.clear();
        engine.setWarmth(run % 2 ? 100 : 0);
        clock.start();
        engine.animateWarmth(run % 2 ? 0 : 100);
        ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }, 3000));
        for (size_t i = 0; i < at.size(); ++i)
            EXPECT_GE(at[i], std::llround((i + 1) * VeskEngine::animationStep * 1e9)) << "step " << i + 1;
        EXPECT_LE(at.size(), 21u);
        EXPECT_DOUBLE_EQ(engine.warmth(), run % 2 ? 0.0 : 100.0);
    }
}

TEST_F(VeskEngineTest, ZeroDurationReachesTheTargetOnTheFirstTick)
{
    std::vector<double> steps;
    engine.onWarmthAnim = [&steps](double w) { steps.push_back(w); };
    engine.animateWarmth(20, 0);
    ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }));
    EXPECT_EQ(steps, std::vector<double>{20.0});
}

TEST_F(VeskEngineTest, SetWarmthStopsARunningAnimation)
{
    engine.animateWarmth(100, 5.0);
    spin(50);
    engine.setWarmth(30);
    EXPECT_FALSE(engine.isAnimating());
    spin(100);
    EXPECT_DOUBLE_EQ(engine.warmth(), 30.0);
}

TEST_F(VeskEngineTest, ANewAnimationStartsFromWhereTheOldOneWas)
{
    engine.setWarmth(0);
    engine.animateWarmth(100, 1.0);
    spin(300);
    const double reached = engine.warmth();
    EXPECT_GT(reached, 0.0);
    std::vector<double> steps;
    engine.onWarmthAnim = [&steps](double w) { steps.push_back(w); };
    engine.animateWarmth(0, 0.2);
    ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }));
    ASSERT_FALSE(steps.empty());
    EXPECT_LE(steps.front(), reached);
    EXPECT_DOUBLE_EQ(engine.warmth(), 0.0);
}

TEST_F(VeskEngineTest, EveryReconfigurationGetsItsOwnApplyAfterTheDelay)
{
    engine.registerDisplayReconfigure();
    engine.setEnabled(true);
    const int before = displays.writes;
    QElapsedTimer clock;
    clock.start();
    displays.reconfigure(1);
    displays.reconfigure(2);
    spin(200);
    EXPECT_EQ(displays.writes, before);  // not yet
    ASSERT_TRUE(waitFor([&] { return displays.writes >= before + 4; }, 2000));
    EXPECT_GE(clock.elapsed(), VeskEngine::reconfigureDelayMs);
    spin(100);
    EXPECT_EQ(displays.writes, before + 4);  // two applies, two displays each
}

TEST_F(VeskEngineTest, ANewlyPluggedDisplayGetsTheTablesOnTheNextApply)
{
    engine.registerDisplayReconfigure();
    engine.setEnabled(true);
    displays.addDisplay(3);
    displays.reconfigure(3);
    ASSERT_TRUE(waitFor([&] { return displays.tables.count(3) == 1; }, 2000));
    EXPECT_EQ(displays.tables.at(3).blue, displays.tables.at(1).blue);
}

TEST_F(VeskEngineTest, DisplaysTheTablesDidNotReachAreListedWhileTheFilterIsOn)
{
    int told = 0;
    engine.onDisplayProblemsChange = [&told] { ++told; };
    engine.registerDisplayReconfigure();
    displays.find(2)->result = GammaResult::unsupported;
    engine.setEnabled(true);
    ASSERT_EQ(engine.displayProblems().size(), 1u);
    EXPECT_EQ(engine.displayProblems()[0].name, "OUT-2");
    EXPECT_EQ(engine.displayProblems()[0].result, GammaResult::unsupported);
    EXPECT_EQ(told, 1);
    engine.setWarmth(80);  // the same answer again is no news
    EXPECT_EQ(told, 1);

    // Another program takes display 1 behind our back, then gives it back.
    displays.find(1)->result = GammaResult::heldByOther;
    displays.resultCallback(1, GammaResult::heldByOther);
    EXPECT_EQ(engine.displayProblems().size(), 2u);
    displays.find(2)->result = GammaResult::applied;
    engine.setWarmth(70);
    EXPECT_EQ(told, 3);
    ASSERT_EQ(engine.displayProblems().size(), 1u);
    EXPECT_EQ(engine.displayProblems()[0].display, 1u);

    // Unplugged, or the filter off: nothing left to report.
    displays.removeDisplay(1);
    engine.reapply();
    EXPECT_TRUE(engine.displayProblems().empty());
    EXPECT_EQ(told, 4);
    displays.find(2)->result = GammaResult::unsupported;
    engine.reapply();
    engine.setEnabled(false);
    EXPECT_TRUE(engine.displayProblems().empty());
    EXPECT_EQ(told, 6);
}
