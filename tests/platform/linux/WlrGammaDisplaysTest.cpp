// The wlr-gamma-control backend against the stand-in compositor, over a real socket.
#include "engine/ColorModel.h"
#include "platform/linux/WlrGammaDisplays.h"

#include "support/StandInCompositor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>

namespace {

using Outputs = std::map<std::string, StandInCompositor::OutputState>;

// Runs the main loop (the backend reads its socket there) until pred holds, for up to 5 s.
template <class Pred>
bool eventually(Pred pred)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (pred())
            return true;
    }
    return false;
}

class WlrGammaDisplaysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int run = 0;
        const std::string socket = "ambrano-test-" + std::to_string(getpid()) + "-" + std::to_string(++run);
        compositor = std::make_unique<StandInCompositor>(socket,
            std::vector<StandInCompositor::OutputConfig>{{"eDP-1", 256}, {"DP-2", 1024, 2560, 1440}, {"HEADLESS-1", 0}});
        qputenv("WAYLAND_DISPLAY", QByteArray::fromStdString(socket));
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
        displays.reset();
        if (compositor) {
            EXPECT_TRUE(eventually([&] { return held() == 0; })) << "a control outlived the backend";
            EXPECT_EQ(compositor->protocolErrors(), 0);
        }
    }
    int held() const
    {
        int n = 0;
        for (const auto& [name, out] : compositor->state())
            n += out.held;
        return n;
    }
    size_t writes(const std::string& name) const { return compositor->state()[name].writes.size(); }

    std::unique_ptr<StandInCompositor> compositor;
    std::unique_ptr<WlrGammaDisplays> displays;
    std::map<std::string, DisplayID> ids;
    std::vector<DisplayID> reconfigured;
    std::vector<std::pair<DisplayID, GammaResult>> told;
};

TEST_F(WlrGammaDisplaysTest, EachOutputGetsItsOwnSizeAndTheExactRamps)
{
    ASSERT_EQ(displays->activeDisplays().size(), 3u);
    EXPECT_TRUE(displays->isBuiltin(ids["eDP-1"]));
    EXPECT_FALSE(displays->isBuiltin(ids["DP-2"]));
    EXPECT_EQ(displays->pixelsWide(ids["DP-2"]), 2560u);
    EXPECT_EQ(displays->pixelsHigh(ids["DP-2"]), 1440u);

    const TransferTables tables = ColorModel::buildTables(62, 80);
    const struct {
        const char* output;
        GammaResult result;
        size_t size;
    } cases[] = {
        {"eDP-1", GammaResult::applied, 256},
        {"DP-2", GammaResult::applied, 1024},
        {"HEADLESS-1", GammaResult::unsupported, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(displays->setTransferTables(ids[c.output], tables), c.result) << c.output;
    ASSERT_TRUE(eventually([&] { return writes("eDP-1") == 1 && writes("DP-2") == 1; }));
    const Outputs state = compositor->state();
    for (const auto& c : cases) {
        const auto& seen = state.at(c.output).writes;
        if (c.size == 0) {
            EXPECT_TRUE(seen.empty()) << c.output;
            continue;
        }
        ASSERT_EQ(seen.front().size(), 3 * c.size) << c.output;
        // Red, green, blue one after another; both ends of each ramp are the table's ends.
        const std::array<const std::array<float, 256>*, 3> channels{&tables.red, &tables.green, &tables.blue};
        for (size_t ch = 0; ch < 3; ++ch) {
            EXPECT_EQ(seen.front()[ch * c.size], std::lround((*channels[ch])[0] * 65535.0)) << c.output;
            EXPECT_EQ(seen.front()[ch * c.size + c.size - 1], std::lround((*channels[ch])[255] * 65535.0)) << c.output;
        }
    }
    // At the tables' own size every entry is the table's, rounded once.
    for (size_t i = 0; i < 256; ++i)
        ASSERT_EQ(state.at("eDP-1").writes.front()[256 + i], std::lround(tables.green[i] * 65535.0)) << i;
}

TEST_F(WlrGammaDisplaysTest, WritesInARowAllArriveAndABurstQueuesOnlyTheNewest)
{
    const DisplayID id = ids["eDP-1"];
    // Two writes a round trip apart: each needs a fresh file (or offset 0) to be read whole.
    EXPECT_EQ(displays->setTransferTables(id, ColorModel::buildTables(30, 100)), GammaResult::applied);
    ASSERT_TRUE(eventually([&] { return writes("eDP-1") == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(displays->setTransferTables(id, ColorModel::buildTables(40, 100)), GammaResult::applied);
    ASSERT_TRUE(eventually([&] { return writes("eDP-1") == 2; }));

    // An animation's steps faster than the compositor answers: the newest waits, the others go.
    for (int warmth = 50; warmth <= 90; warmth += 10)
        displays->setTransferTables(id, ColorModel::buildTables(warmth, 100));
    ASSERT_TRUE(eventually([&] { return writes("eDP-1") >= 3 && compositor->state()["eDP-1"].writes.back()[255]
        == std::lround(ColorModel::buildTables(90, 100).red[255] * 65535.0)
        && compositor->state()["eDP-1"].writes.back()[511] == std::lround(ColorModel::buildTables(90, 100).green[255] * 65535.0); }));
    EXPECT_LE(writes("eDP-1"), 4u);
    EXPECT_EQ(compositor->protocolErrors(), 0);
}

TEST_F(WlrGammaDisplaysTest, AnOutputTakenAwayIsReportedAndNotAskedForAgain)
{
    const DisplayID id = ids["DP-2"];
    const TransferTables tables = ColorModel::buildTables(62, 100);
    ASSERT_EQ(displays->setTransferTables(id, tables), GammaResult::applied);
    ASSERT_TRUE(eventually([&] { return writes("DP-2") == 1; }));
    compositor->takeAway("DP-2");
    ASSERT_TRUE(eventually([&] { return !told.empty(); }));
    EXPECT_EQ(told.front(), std::make_pair(id, GammaResult::heldByOther));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(displays->setTransferTables(id, tables), GammaResult::heldByOther);
    QCoreApplication::processEvents();
    EXPECT_EQ(compositor->state()["DP-2"].controlRequests, 1);
    // Switching the filter off and on is the user's own retry: one request, no more.
    displays->restoreColorProfiles();
    EXPECT_EQ(displays->setTransferTables(id, tables), GammaResult::applied);
    EXPECT_EQ(compositor->state()["DP-2"].controlRequests, 2);
}

TEST_F(WlrGammaDisplaysTest, PluggedAndUnpluggedOutputsAreReconfigurations)
{
    ASSERT_EQ(displays->setTransferTables(ids["eDP-1"], ColorModel::buildTables(62, 100)), GammaResult::applied);
    compositor->addOutput({"HDMI-A-1", 4096});
    ASSERT_TRUE(eventually([&] { return displays->activeDisplays().size() == 4 && reconfigured.size() == 1; }));
    const DisplayID added = reconfigured.back();
    ASSERT_TRUE(eventually([&] { return displays->name(added) == "HDMI-A-1"; }));
    EXPECT_EQ(displays->setTransferTables(added, ColorModel::buildTables(62, 100)), GammaResult::applied);
    ASSERT_TRUE(eventually([&] { return writes("HDMI-A-1") == 1; }));
    EXPECT_EQ(compositor->state()["HDMI-A-1"].writes.front().size(), 3u * 4096);

    compositor->removeOutput("HDMI-A-1");
    ASSERT_TRUE(eventually([&] { return displays->activeDisplays().size() == 3 && reconfigured.size() == 2; }));
    EXPECT_EQ(reconfigured.back(), added);
    EXPECT_EQ(displays->setTransferTables(added, ColorModel::buildTables(62, 100)), GammaResult::unsupported);
}

TEST_F(WlrGammaDisplaysTest, SwitchingOffHandsEveryOutputBack)
{
    for (const char* name : {"eDP-1", "DP-2"})
        displays->setTransferTables(ids[name], ColorModel::buildTables(62, 100));
    ASSERT_TRUE(eventually([&] { return held() == 2; }));
    displays->restoreColorProfiles();
    EXPECT_TRUE(eventually([&] { return held() == 0; }));
}

}  // namespace
