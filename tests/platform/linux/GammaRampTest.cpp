#include "engine/ColorModel.h"
#include "platform/linux/GammaRamp.h"
#include <gtest/gtest.h>

TEST(GammaRamp, SampledAtAnySizeTheRampIsTheSameLineAndIdentityRoundsToTheNearestWord)
{
    TransferTables tables = ColorModel::buildTables(62, 80);
    const ChannelGains gains = ColorModel::rgbForWarmth(62);
    tables.red.fill(1.5f);  // beyond full: clamped, never wrapped
    for (int size : {2, 256, 1024}) {
        const GammaRamp ramp = GammaRamp::fromTables(tables, size);
        ASSERT_EQ(ramp.size(), size);
        for (int j = 0; j < size; ++j) {
            const double x = static_cast<double>(j) / (size - 1);
            ASSERT_EQ(ramp.red[j], 65535);
            ASSERT_NEAR(ramp.green[j], x * gains.green * 0.8 * 65535.0, 1.0) << size << " " << j;
            ASSERT_NEAR(ramp.blue[j], x * gains.blue * 0.8 * 65535.0, 1.0) << size << " " << j;
        }
    }
    EXPECT_EQ(GammaRamp::fromTables(tables, 1).green, std::vector<std::uint16_t> {0});
    const GammaRamp id = GammaRamp::identity(256);
    EXPECT_EQ(std::tuple(id.red.back(), id.green[128], id.blue[1], id.isAllZero()), std::tuple(65535, 32896, 257, false));
    EXPECT_EQ(GammaRamp::identity(1024).green[8], 512);  // 512.49 rounds down
    EXPECT_TRUE((GammaRamp {{0, 0}, {0, 0}, {0, 0}}).isAllZero());
}
