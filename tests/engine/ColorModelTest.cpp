#include "engine/ColorModel.h"
#include <gtest/gtest.h>
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

TEST(ColorModel, WarmthForKelvinTheGainsForWarmthAndTemperatureAndTablesScaledByBrightness)
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
}
