// The wlr-gamma-control backend against the stand-in compositor, over a real socket.
#include "engine/ColorModel.h"
#include "platform/linux/WlrGammaDisplays.h"

#include "support/StandInCompositor.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

std::uint16_t word(float v) { return static_cast<std::uint16_t>(std::lround(v * 65535.0)); }

class WlrGammaDisplaysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int run = 0;
        const std::string socket = "ambrano-test-" + std::to_string(getpid()) + "-" + std::to_string(++run);
        compositor = std::make_unique<StandInCompositor>(socket,
            std::vector<StandInCompositor::OutputConfig> {{"eDP-1", 256}, {"DP-2", 1024, 2560, 1440}, {"HEADLESS-1", 0}});
        qputenv("WAYLAND_DISPLAY", QByteArray::fromStdString(socket));
        std::string whyNot;
        displays = WlrGammaDisplays::connect(whyNot);
        ASSERT_TRUE(displays) << whyNot;
        displays->registerReconfigurationCallback([this](DisplayID id) { reconfigured.push_back(id); });
        displays->registerGammaResultCallback([this](DisplayID id, GammaResult r) { told.emplace_back(id, r); });
        for (DisplayID id : displays->activeDisplays())
            ids[displays->name(id)] = id;
    }
    // Quitting hands every output back, and nothing the compositor saw broke the protocol.
    void TearDown() override
    {
        displays.reset();
        EXPECT_TRUE(waitFor([&] { return held() == 0; })) << "a control outlived the backend";
        EXPECT_EQ(compositor->protocolErrors(), 0);
    }
    int held() const { return compositor->state()["eDP-1"].held + compositor->state()["DP-2"].held; }
    size_t writes(const std::string& name) const { return compositor->state()[name].writes.size(); }
    GammaResult set(const std::string& name, double warmth = 62) { return displays->setTransferTables(ids[name], ColorModel::buildTables(warmth, 100)); }

    std::unique_ptr<StandInCompositor> compositor;
    std::unique_ptr<WlrGammaDisplays> displays;
    std::map<std::string, DisplayID> ids;
    std::vector<DisplayID> reconfigured;
    std::vector<std::pair<DisplayID, GammaResult>> told;
};

TEST_F(WlrGammaDisplaysTest, EachOutputGetsItsOwnSizeAndTheExactRampsUntilSwitchedOff)
{
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_TRUE(displays->isBuiltin(ids["eDP-1"]));
    EXPECT_FALSE(displays->isBuiltin(ids["DP-2"]));
    EXPECT_EQ(displays->pixelsWide(ids["DP-2"]), 2560u);
    EXPECT_EQ(displays->pixelsHigh(ids["DP-2"]), 1440u);

    const TransferTables tables = ColorModel::buildTables(62, 80);
    EXPECT_EQ(displays->setTransferTables(ids["eDP-1"], tables), GammaResult::applied);
    EXPECT_EQ(displays->setTransferTables(ids["DP-2"], tables), GammaResult::applied);
    EXPECT_EQ(displays->setTransferTables(ids["HEADLESS-1"], tables), GammaResult::unsupported);
    ASSERT_TRUE(waitFor([&] { return writes("eDP-1") == 1 && writes("DP-2") == 1; }));
    auto state = compositor->state();
    EXPECT_TRUE(state["HEADLESS-1"].writes.empty());
    // Red, green, blue one after another, at each output's own size; at the tables' own size
    // every entry is the table's, rounded once.
    const std::vector<std::uint16_t>& edp = state["eDP-1"].writes.front(), &dp = state["DP-2"].writes.front();
    ASSERT_EQ(edp.size() * 4, dp.size());
    ASSERT_EQ(dp.size(), 3u * 1024);
    for (size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(edp[i], word(tables.red[i])) << i;
        ASSERT_EQ(edp[256 + i], word(tables.green[i])) << i;
        ASSERT_EQ(edp[512 + i], word(tables.blue[i])) << i;
    }
    EXPECT_EQ(dp[1023], word(tables.red[255]));
    EXPECT_EQ(dp[2047], word(tables.green[255]));
    EXPECT_EQ(dp[3071], word(tables.blue[255]));

    displays->restoreColorProfiles();
    EXPECT_TRUE(waitFor([&] { return held() == 0; }));
}

TEST_F(WlrGammaDisplaysTest, WritesInARowAllArriveAndABurstQueuesOnlyTheNewest)
{
    // Two writes a round trip apart: each needs a fresh file (or offset 0) to be read whole.
    EXPECT_EQ(set("eDP-1", 30), GammaResult::applied);
    ASSERT_TRUE(waitFor([&] { return writes("eDP-1") == 1; }));
    EXPECT_EQ(set("eDP-1", 40), GammaResult::applied);
    ASSERT_TRUE(waitFor([&] { return writes("eDP-1") == 2; }));

    // An animation's steps faster than the compositor answers: the newest waits, the others go.
    for (int warmth = 50; warmth <= 90; warmth += 10)
        set("eDP-1", warmth);
    const TransferTables last = ColorModel::buildTables(90, 100);
    ASSERT_TRUE(waitFor([&] {
        const auto w = compositor->state()["eDP-1"].writes;
        return w.size() >= 3 && w.back()[255] == word(last.red[255]) && w.back()[511] == word(last.green[255]);
    }));
    EXPECT_LE(writes("eDP-1"), 4u);
}

TEST_F(WlrGammaDisplaysTest, AnOutputTakenAwayIsReportedAndNotAskedForAgainUntilTheUserDoes)
{
    ASSERT_EQ(set("DP-2"), GammaResult::applied);
    ASSERT_TRUE(waitFor([&] { return writes("DP-2") == 1; }));
    compositor->takeAway("DP-2");
    ASSERT_TRUE(waitFor([&] { return !told.empty(); }));
    EXPECT_EQ(told, (std::vector<std::pair<DisplayID, GammaResult>> {{ids["DP-2"], GammaResult::heldByOther}}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(set("DP-2"), GammaResult::heldByOther);
    spin(10);
    EXPECT_EQ(compositor->state()["DP-2"].controlRequests, 1);
    // Switching the filter off and on is the user's own retry: one request, no more.
    displays->restoreColorProfiles();
    EXPECT_EQ(set("DP-2"), GammaResult::applied);
    EXPECT_EQ(compositor->state()["DP-2"].controlRequests, 2);
}

TEST_F(WlrGammaDisplaysTest, PluggedAndUnpluggedOutputsAreReconfigurations)
{
    compositor->addOutput({"HDMI-A-1", 4096});
    ASSERT_TRUE(waitFor([&] { return reconfigured.size() == 1 && displays->name(reconfigured.back()) == "HDMI-A-1"; }));
    const DisplayID added = reconfigured.back();
    EXPECT_EQ(displays->activeDisplays().size(), 4u);
    EXPECT_EQ(displays->setTransferTables(added, ColorModel::buildTables(62, 100)), GammaResult::applied);
    ASSERT_TRUE(waitFor([&] { return writes("HDMI-A-1") == 1; }));
    EXPECT_EQ(compositor->state()["HDMI-A-1"].writes.front().size(), 3u * 4096);

    compositor->removeOutput("HDMI-A-1");
    ASSERT_TRUE(waitFor([&] { return reconfigured.size() == 2; }));
    EXPECT_EQ(reconfigured.back(), added);
    EXPECT_EQ(displays->activeDisplays().size(), 3u);
    EXPECT_EQ(displays->setTransferTables(added, ColorModel::buildTables(62, 100)), GammaResult::unsupported);
}

}  // namespace
