#include "engine/ColorModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void expectGains(const ChannelGains& g, double r, double gr, double b, double tol = 1e-6)
{
    EXPECT_NEAR(g.red, r, tol);
    EXPECT_NEAR(g.green, gr, tol);
    EXPECT_NEAR(g.blue, b, tol);
}

}  // namespace

TEST(ColorModel, WarmthForKelvinMapsTheBlackBodyRangeAndHoldsItsEnds)
{
    EXPECT_DOUBLE_EQ(ColorModel::warmthForKelvin(6500), 0.0);
    EXPECT_DOUBLE_EQ(ColorModel::warmthForKelvin(1000), 90.0);
    EXPECT_DOUBLE_EQ(ColorModel::warmthForKelvin(8000), 0.0);
    EXPECT_DOUBLE_EQ(ColorModel::warmthForKelvin(500), 90.0);
    EXPECT_DOUBLE_EQ(ColorModel::warmthForKelvin(3750), 45.0);
    EXPECT_NEAR(ColorModel::warmthForKelvin(4000), 40.909, 0.001);
    EXPECT_NEAR(ColorModel::warmthForKelvin(2700), 62.182, 0.001);
}

TEST(ColorModel, WarmthReferenceGains)
{
    expectGains(ColorModel::rgbForWarmth(0), 1.0, 0.996510, 0.980557);
    expectGains(ColorModel::rgbForWarmth(30), 1.0, 0.867254, 0.760305);
    expectGains(ColorModel::rgbForWarmth(45), 1.0, 0.781947, 0.604034);
    expectGains(ColorModel::rgbForWarmth(62), 1.0, 0.655406, 0.346305);
    expectGains(ColorModel::rgbForWarmth(80), 1.0, 0.452394, 0.0);
    expectGains(ColorModel::rgbForWarmth(90), 1.0, 0.266355, 0.0);
    expectGains(ColorModel::rgbForWarmth(95), 1.0, 0.133177, 0.0);
    expectGains(ColorModel::rgbForWarmth(100), 1.0, 0.0, 0.0);
}

TEST(ColorModel, WarmthOutsideTheScaleIsHeldAtItsEnds)
{
    EXPECT_EQ(ColorModel::rgbForWarmth(-5), ColorModel::rgbForWarmth(0));
    EXPECT_EQ(ColorModel::rgbForWarmth(150), (ChannelGains{1.0, 0.0, 0.0}));
    EXPECT_EQ(ColorModel::rgbForWarmth(std::numeric_limits<double>::quiet_NaN()), (ChannelGains{1.0, 0.0, 0.0}));
    // Continuous where the black-body curve hands over to the fade to red.
    EXPECT_LT(std::abs(ColorModel::rgbForWarmth(90).green - ColorModel::rgbForWarmth(90.0001).green), 0.0001);
}

TEST(ColorModel, TemperatureReferenceGains)
{
    expectGains(ColorModel::rgbForTemperature(2000), 1.0, 0.536739, 0.054526);
    expectGains(ColorModel::rgbForTemperature(4000), 1.0, 0.807122, 0.651299);
    expectGains(ColorModel::rgbForTemperature(10000), 0.790997, 0.855179, 1.0);
    expectGains(ColorModel::rgbForTemperature(40000), 0.594801, 0.727566, 1.0);
    EXPECT_EQ(ColorModel::rgbForTemperature(6600), (ChannelGains{1.0, 1.0, 1.0}));
    EXPECT_EQ(ColorModel::rgbForTemperature(50000), ColorModel::rgbForTemperature(40000));
    EXPECT_EQ(ColorModel::rgbForTemperature(std::numeric_limits<double>::quiet_NaN()),
        ColorModel::rgbForTemperature(40000));
    const ChannelGains at1000{1.0, 0.2663545845364998, 0.0};
    EXPECT_EQ(ColorModel::rgbForTemperature(999), at1000);
    EXPECT_EQ(ColorModel::rgbForTemperature(1000), at1000);
}

TEST(ColorModel, BlueIsExactlyOffUpTo1900KAndFullFrom6600K)
{
    for (double k = 1000; k <= 1900; k += 50)
        EXPECT_EQ(ColorModel::rgbForTemperature(k).blue, 0.0) << k;
    for (double k = 6600; k <= 40000; k += 700)
        EXPECT_EQ(ColorModel::rgbForTemperature(k).blue, 1.0) << k;
}

TEST(ColorModel, TablesAreLinearRampsScaledByBrightness)
{
    const TransferTables t = ColorModel::buildTables(100, 50);
    for (int i = 0; i < 256; ++i) {
        EXPECT_FLOAT_EQ(t.red[i], static_cast<float>(i / 255.0 * 0.5)) << i;
        EXPECT_EQ(t.green[i], 0.0f);
        EXPECT_EQ(t.blue[i], 0.0f);
    }
    const TransferTables cool = ColorModel::buildTables(0, 100);
    EXPECT_FLOAT_EQ(cool.red[255], 1.0f);
    EXPECT_NEAR(cool.green[255], 0.99651, 1e-5);
    EXPECT_NEAR(cool.blue[255], 0.98056, 1e-5);
    const TransferTables evening = ColorModel::buildTables(62, 100);
    EXPECT_NEAR(evening.green[255], 0.6554, 1e-4);
    EXPECT_NEAR(evening.blue[255], 0.3463, 1e-4);
}

TEST(ColorModel, EveryEntryLiesInRangeAndStartsAtZero)
{
    for (double warmth : {-10.0, 0.0, 33.3, 62.0, 90.0, 97.0, 100.0, 400.0}) {
        for (double brightness : {1.0, 10.0, 55.5, 100.0}) {
            const TransferTables t = ColorModel::buildTables(warmth, brightness);
            for (const auto* channel : {&t.red, &t.green, &t.blue}) {
                EXPECT_EQ((*channel)[0], 0.0f);
                for (float v : *channel) {
                    EXPECT_GE(v, 0.0f);
                    EXPECT_LE(v, 1.0f);
                }
            }
        }
    }
}
