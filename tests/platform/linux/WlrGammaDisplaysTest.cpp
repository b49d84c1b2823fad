// The wlr-gamma-control backend against the stand-in compositor, over a real socket.
#include "engine/ColorModel.h"
#include "platform/linux/GammaRamp.h"
#include "platform/linux/WlrGammaDisplays.h"
#include "support/StandInCompositor.h"
#include "support/TestEnvironment.h"
#include <gtest/gtest.h>

// What the compositor must read: red, green and blue one after another, at the output's size.
static std::vector<std::uint16_t> wire(double warmth, int size)
{
    GammaRamp r = GammaRamp::fromTables(ColorModel::buildTables(warmth, 80), size);
    r.red.insert(r.red.end(), r.green.begin(), r.green.end());
    r.red.insert(r.red.end(), r.blue.begin(), r.blue.end());
    return r.red;
}

class WlrGammaDisplaysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("WAYLAND_DISPLAY", "ambrano-test-" + QByteArray::number(getpid()));
        compositor = std::make_unique<StandInCompositor>(qgetenv("WAYLAND_DISPLAY").toStdString(),
            std::vector<StandInCompositor::OutputConfig> {{"eDP-1", 256}, {"DP-2", 1024}, {"HEADLESS-1", 0}});
        std::string whyNot;
        displays = WlrGammaDisplays::connect(whyNot);
        ASSERT_TRUE(displays) << whyNot;
        displays->registerReconfigurationCallback([this](DisplayID id) { reconfigured.push_back(id); });
        displays->registerGammaResultCallback([this](DisplayID id, GammaResult r) { told.emplace_back(id, r); });
        for (DisplayID id : displays->activeDisplays())
            ids[displays->name(id)] = id;
    }
    void TearDown() override
    {
        displays.reset();  // quitting hands every output back
        EXPECT_TRUE(waitFor([&] { return held() == 0; })) << "a control outlived the backend";
    }
    int held() const { return compositor->state("eDP-1").held + compositor->state("DP-2").held; }
    std::vector<std::vector<std::uint16_t>> writes(const std::string& name) const { return compositor->state(name).writes; }
    GammaResult set(const std::string& name, double warmth = 62) { return displays->setTransferTables(ids[name], ColorModel::buildTables(warmth, 80)); }
    std::unique_ptr<StandInCompositor> compositor;
    std::unique_ptr<WlrGammaDisplays> displays;
    std::map<std::string, DisplayID> ids;
    std::vector<DisplayID> reconfigured;
    std::vector<std::pair<DisplayID, GammaResult>> told;
};

TEST_F(WlrGammaDisplaysTest, EachOutputGetsItsOwnSizeAndTheExactRampsAndABurstQueuesOnlyTheNewest)
{
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_TRUE(displays->isBuiltin(ids["eDP-1"]) && !displays->isBuiltin(ids["DP-2"]));
    EXPECT_EQ(std::pair(displays->pixelsWide(ids["DP-2"]), displays->pixelsHigh(ids["DP-2"])), std::pair(1920u, 1080u));
    EXPECT_EQ(set("eDP-1"), GammaResult::applied);
    EXPECT_EQ(set("DP-2"), GammaResult::applied);
    EXPECT_EQ(set("HEADLESS-1"), GammaResult::unsupported);
    ASSERT_TRUE(waitFor([&] { return writes("eDP-1").size() == 1 && writes("DP-2").size() == 1; }));
    EXPECT_EQ(writes("eDP-1")[0], wire(62, 256));
    EXPECT_EQ(writes("DP-2")[0], wire(62, 1024));
    // A second write a round trip later needs a fresh file (or offset 0) to be read whole.
    EXPECT_EQ(set("eDP-1", 40), GammaResult::applied);
    ASSERT_TRUE(waitFor([&] { return writes("eDP-1").size() == 2; }));
    // An animation's steps faster than the compositor answers: the newest waits, the others go.
    for (int warmth = 50; warmth <= 90; warmth += 10)
        set("eDP-1", warmth);
    ASSERT_TRUE(waitFor([&] { return writes("eDP-1").back() == wire(90, 256); }));
    EXPECT_LE(writes("eDP-1").size(), 4u);
    displays->restoreColorProfiles();  // off hands every output back
    EXPECT_TRUE(waitFor([&] { return held() == 0; }));
}

TEST_F(WlrGammaDisplaysTest, AnOutputTakenAwayIsNotAskedForAgainUntilTheUserDoesAndPlugsAreReconfigurations)
{
    ASSERT_EQ(set("DP-2"), GammaResult::applied);
    ASSERT_TRUE(waitFor([&] { return writes("DP-2").size() == 1; }));
    compositor->takeAway("DP-2");
    ASSERT_TRUE(waitFor([&] { return !told.empty(); }));
    EXPECT_EQ(told, (std::vector<std::pair<DisplayID, GammaResult>> {{ids["DP-2"], GammaResult::heldByOther}}));
    EXPECT_EQ(set("DP-2"), GammaResult::heldByOther);
    spin(10);
    EXPECT_EQ(compositor->state("DP-2").controlRequests, 1);
    // Switching the filter off and on is the user's own retry: one request, no more.
    displays->restoreColorProfiles();
    EXPECT_EQ(set("DP-2"), GammaResult::applied);
    EXPECT_EQ(compositor->state("DP-2").controlRequests, 2);
    // Plugged and unplugged outputs are reconfigurations.
    compositor->addOutput({"HDMI-A-1", 4096});
    ASSERT_TRUE(waitFor([&] { return reconfigured.size() == 1 && displays->name(reconfigured[0]) == "HDMI-A-1"; }));
    ids["HDMI-A-1"] = reconfigured[0];
    EXPECT_EQ(set("HDMI-A-1"), GammaResult::applied);
    ASSERT_TRUE(waitFor([&] { return writes("HDMI-A-1").size() == 1; }));
    EXPECT_EQ(writes("HDMI-A-1")[0], wire(62, 4096));
    compositor->removeOutput("HDMI-A-1");
    ASSERT_TRUE(waitFor([&] { return reconfigured.size() == 2; }));
    EXPECT_EQ(reconfigured[1], ids["HDMI-A-1"]);
    EXPECT_EQ(set("HDMI-A-1"), GammaResult::unsupported);
}
