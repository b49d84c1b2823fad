#include "engine/ColorModel.h"
#include "platform/linux/GammaRamp.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(GammaRamp, SampledAtAnySizeTheRampIsTheSameLine)
{
    const TransferTables tables = ColorModel::buildTables(62, 80);
    const ChannelGains gains = ColorModel::rgbForWarmth(62);
    for (int size : {256, 1024, 4096, 2}) {
        const GammaRamp ramp = GammaRamp::fromTables(tables, size);
        ASSERT_EQ(ramp.size(), size);
        for (int j = 0; j < size; ++j) {
            const double x = static_cast<double>(j) / (size - 1);
            EXPECT_NEAR(ramp.green[j], x * gains.green * 0.8 * 65535.0, 1.0) << size << " " << j;
            EXPECT_NEAR(ramp.blue[j], x * gains.blue * 0.8 * 65535.0, 1.0) << size << " " << j;
        }
    }
}

TEST(GammaRamp, IdentityAndAllZero)
{
    const GammaRamp id = GammaRamp::identity(256);
    EXPECT_EQ(id.red.front(), 0);
    EXPECT_EQ(id.red.back(), 65535);
    EXPECT_EQ(id.green[128], std::lround(128 / 255.0 * 65535));
    EXPECT_FALSE(id.isAllZero());
    GammaRamp zero{std::vector<std::uint16_t>(16), std::vector<std::uint16_t>(16), std::vector<std::uint16_t>(16)};
    EXPECT_TRUE(zero.isAllZero());
}
