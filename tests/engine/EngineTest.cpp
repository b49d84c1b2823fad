#include "engine/ColorModel.h"
#include "engine/VeskEngine.h"
#include "FakeDisplayServices.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <cmath>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
struct Case { double in, red, green, blue; };
void expectGains(const ChannelGains& g, const Case& c)
{
    EXPECT_TRUE(std::abs(g.red - c.red) < 1e-6 && std::abs(g.green - c.green) < 1e-6 && std::abs(g.blue - c.blue) < 1e-6)
        << c.in << " gives " << g.red << " " << g.green << " " << g.blue;
}
}  // namespace

TEST(Engine, ColourArithmeticClampsWritesAndRestoresAnimatesOnA60HzGridReappliesAfterReconfigurationListsProblems)
{
    const std::pair<double, double> kelvins[] = {{8000, 0}, {6500, 0}, {3750, 45}, {4000, 40.909091}, {2700, 62.181818}, {1000, 90}, {500, 90}};
    for (auto [kelvin, warmth] : kelvins)
        EXPECT_NEAR(ColorModel::warmthForKelvin(kelvin), warmth, 1e-6) << kelvin;
    const Case warmth[] = {{0, 1, 0.996510, 0.980557}, {-5, 1, 0.996510, 0.980557}, {30, 1, 0.867254, 0.760305},
        {62, 1, 0.655406, 0.346305}, {80, 1, 0.452394, 0}, {90, 1, 0.266355, 0}, {95, 1, 0.133177, 0}, {100, 1, 0, 0},
        {150, 1, 0, 0}, {kNaN, 1, 0, 0}};
    for (const Case& c : warmth)
        expectGains(ColorModel::rgbForWarmth(c.in), c);
    const Case kelvin[] = {{999, 1, 0.266355, 0}, {1000, 1, 0.266355, 0}, {1900, 1, 0.516730, 0}, {2000, 1, 0.536739, 0.054526},
        {4000, 1, 0.807122, 0.651299}, {6600, 1, 1, 1}, {10000, 0.790997, 0.855179, 1}, {40000, 0.594801, 0.727566, 1},
        {50000, 0.594801, 0.727566, 1}, {kNaN, 0.594801, 0.727566, 1}};
    for (const Case& c : kelvin)
        expectGains(ColorModel::rgbForTemperature(c.in), c);
    const TransferTables t = ColorModel::buildTables(62, 50);
    for (int i : {0, 51, 255})
        expectGains({t.red[i], t.green[i], t.blue[i]}, {double(i), i / 510.0, i / 255.0 * 0.3277029, i / 255.0 * 0.1731527});
    EXPECT_EQ(ColorModel::buildTables(0, 400).red[255], 1.0f);  // held to 1
    FakeDisplayServices displays;
    displays.addDisplay(1, true);
    displays.addDisplay(2);
    VeskEngine engine;
    engine.setDisplayServices(&displays);
    std::vector<bool> changes;
    std::vector<std::pair<qint64, double>> steps;  // when, and the warmth
    QElapsedTimer clock;
    engine.onChange = [&](bool on) { changes.push_back(on); };
    engine.onWarmthAnim = [&](double w) { steps.push_back({clock.nsecsElapsed(), w}); };
    engine.setEnabled(true);  // the evening's 62 at full brightness
    EXPECT_TRUE(displays.tables.size() == 2u && std::abs(displays.tables.at(1).blue[255] - 0.3463) < 1e-4
        && displays.tables.at(1).blue == displays.tables.at(2).blue);
    const std::pair<double, double> warmths[] = {{150, 100}, {-3, 0}, {kNaN, 0}}, brightnesses[] = {{250, 100}, {kNaN, 100}, {3, 10}};
    for (auto [in, out] : warmths)
        EXPECT_EQ((engine.setWarmth(in), engine.warmth()), out) << in;
    for (auto [in, out] : brightnesses)
        EXPECT_EQ((engine.setBrightness(in), engine.brightness()), out) << in;
    engine.setBrightnessFloor(1.0);  // extreme dimming
    EXPECT_EQ((engine.setBrightness(0.2), engine.brightness()), 1.0);
    engine.setBrightness(3);
    engine.setBrightnessFloor(10.0);  // a rising floor lifts the brightness and re-applies at once
    EXPECT_NEAR(displays.tables.at(2).red[255], 0.10, 1e-6);
    for (double ignored : {1.0, kNaN, 0.0})
        engine.setBrightnessFloor(ignored);
    EXPECT_EQ(engine.brightness(), 10.0);  // a lower floor leaves it; NaN and 0 are no floor
    EXPECT_EQ((engine.setBrightness(0.5), engine.brightness()), 1.0);
    engine.toggle();
    EXPECT_TRUE(displays.tables.empty() && displays.restores == 1 && changes == (std::vector<bool>{true, false}));
    engine.setWarmth(0);
    clock.start();
    engine.animateWarmth(100);
    ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }, 3000));
    // A step ahead of its deadline finds the animation short of its end and adds a 22nd.
    EXPECT_TRUE(steps.size() >= 10 && steps.size() <= 21) << steps.size();
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_GE(steps[i].first, std::llround((i + 1) * VeskEngine::animationStep * 1e9)) << "step " << i + 1;
        EXPECT_GE(steps[i].second, i ? steps[i - 1].second : 0.0);
    }
    EXPECT_TRUE(steps.back().second == 100.0 && displays.tables.at(1).green[255] == 0.0f);
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true}));  // the animation turned it on, once
    engine.setWarmth(40);
    steps.clear();
    engine.animateWarmth(0, 5.0);  // from where it is, not from the last target, until a set stops it
    spin(50);
    engine.setWarmth(30);
    spin(100);
    ASSERT_FALSE(steps.empty());
    EXPECT_TRUE(steps.front().second <= 40.0 && steps.front().second > 39.0 && !engine.isAnimating() && engine.warmth() == 30.0);
    int told = 0;
    engine.onDisplayProblemsChange = [&told] { ++told; };
    engine.registerDisplayReconfigure();
    engine.setEnabled(true);  // every reconfiguration gets its own apply to every display after the delay
    const int before = displays.writes;
    displays.addDisplay(3);  // newly plugged, and the tables cannot reach it
    displays.find(3)->result = GammaResult::unsupported;
    displays.reconfigure(1);
    displays.reconfigure(3);
    spin(200);
    EXPECT_EQ(displays.writes, before);  // the display settles first
    ASSERT_TRUE(waitFor([&] { return displays.writes >= before + 6; }, 2000));
    spin(100);
    ASSERT_TRUE(displays.writes == before + 6 && engine.displayProblems().size() == 1u);
    EXPECT_TRUE(engine.displayProblems()[0].name == "OUT-3" && engine.displayProblems()[0].result == GammaResult::unsupported);
    engine.setWarmth(80);  // the same answer again is no news
    // Another program takes display 1 behind our back, then 3 works again.
    displays.find(1)->result = GammaResult::heldByOther;
    displays.resultCallback(1, GammaResult::heldByOther);
    EXPECT_TRUE(engine.displayProblems().size() == 2u && told == 2);
    displays.find(3)->result = GammaResult::applied;
    engine.setWarmth(70);
    ASSERT_EQ(engine.displayProblems().size(), 1u);
    EXPECT_TRUE(told == 3 && engine.displayProblems()[0].display == 1u);
    displays.removeDisplay(1);  // unplugged, or the filter off: nothing left to report
    engine.reapply();
    EXPECT_TRUE(engine.displayProblems().empty() && told == 4);
    displays.find(3)->result = GammaResult::unsupported;
    engine.reapply();
    engine.setEnabled(false);
    EXPECT_TRUE(engine.displayProblems().empty() && told == 6);
}
