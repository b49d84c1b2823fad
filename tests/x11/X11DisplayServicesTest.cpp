// Against a real Xorg with the dummy driver (see tests/support/with-xorg.sh).
#include "engine/ColorModel.h"
#include "engine/VeskEngine.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11DisplayServices.h"

#include "support/TestEnvironment.h"
#include "support/XTestTools.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>

namespace {

CrtcRamp identity(int size)
{
    CrtcRamp r;
    for (int i = 0; i < size; ++i) {
        const auto v = static_cast<std::uint16_t>(i * 256);  // the dummy driver's start ramps
        r.red.push_back(v);
        r.green.push_back(v);
        r.blue.push_back(v);
    }
    return r;
}

void expectRampNear(const std::vector<std::uint16_t>& ramp, const std::array<float, 256>& table)
{
    ASSERT_EQ(ramp.size(), 256u);
    for (size_t i = 0; i < 256; ++i)
        EXPECT_LE(std::abs(ramp[i] - table[i] * 65535.0), 1.0) << i;
}

class X11DisplayServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XTestTools::unplugSecondMonitor();
        XTestTools::writeRamp(QStringLiteral("DUMMY0"), identity(256));
        connection = X11Connection::open();
        ASSERT_TRUE(connection) << "no X display";
        displays = std::make_unique<X11DisplayServices>(*connection, backupPath());
    }
    void TearDown() override
    {
        if (displays)
            displays->restoreColorProfiles();
        displays.reset();
        connection.reset();
        XTestTools::unplugSecondMonitor();
    }
    QString backupPath() const { return dir.path() + QStringLiteral("/ambrano-gamma.json"); }

    QTemporaryDir dir;
    std::unique_ptr<X11Connection> connection;
    std::unique_ptr<X11DisplayServices> displays;
};

}  // namespace

TEST_F(X11DisplayServicesTest, ListsTheConnectedMonitorAsAnExternalDisplay)
{
    const auto ids = displays->activeDisplays();
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_NE(ids[0], 0u);
    EXPECT_FALSE(displays->isBuiltin(ids[0]));
    EXPECT_EQ(displays->pixelsWide(ids[0]), 1920u);
    EXPECT_EQ(displays->pixelsHigh(ids[0]), 1080u);
}

TEST_F(X11DisplayServicesTest, TablesWrittenAreWhatTheServerHolds)
{
    const TransferTables tables = ColorModel::buildTables(62, 70);
    displays->setTransferTables(displays->activeDisplays().at(0), tables);
    const CrtcRamp ramp = XTestTools::readRamp(QStringLiteral("DUMMY0"));
    expectRampNear(ramp.red, tables.red);
    expectRampNear(ramp.green, tables.green);
    expectRampNear(ramp.blue, tables.blue);
}

TEST_F(X11DisplayServicesTest, RestoreGivesBackTheRampsFromBeforeAndForgetsThem)
{
    // A calibrated, non-identity ramp set by someone else before we start.
    CrtcRamp calibrated = identity(256);
    for (auto& v : calibrated.blue)
        v = static_cast<std::uint16_t>(v * 0.9);
    XTestTools::writeRamp(QStringLiteral("DUMMY0"), calibrated);

    const DisplayID id = displays->activeDisplays().at(0);
    displays->setTransferTables(id, ColorModel::buildTables(100, 100));
    EXPECT_TRUE(QFile::exists(backupPath()));  // originals kept on disk while the filter is on
    displays->setTransferTables(id, ColorModel::buildTables(30, 50));
    displays->restoreColorProfiles();
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), calibrated);
    EXPECT_FALSE(QFile::exists(backupPath()));

    // Restoring again with nothing saved touches nothing.
    CrtcRamp other = identity(256);
    other.red[5] = 1;
    XTestTools::writeRamp(QStringLiteral("DUMMY0"), other);
    displays->restoreColorProfiles();
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), other);
}

TEST_F(X11DisplayServicesTest, AnAllZeroStartRampIsRestoredAsIdentityNotBlack)
{
    CrtcRamp zero;
    zero.red.assign(256, 0);
    zero.green.assign(256, 0);
    zero.blue.assign(256, 0);
    XTestTools::writeRamp(QStringLiteral("DUMMY0"), zero);
    const DisplayID id = displays->activeDisplays().at(0);
    displays->setTransferTables(id, ColorModel::buildTables(62, 100));
    displays->restoreColorProfiles();
    const CrtcRamp back = XTestTools::readRamp(QStringLiteral("DUMMY0"));
    ASSERT_EQ(back.red.size(), 256u);
    EXPECT_EQ(back.red[0], 0);
    EXPECT_EQ(back.red[255], 65535);
    EXPECT_NEAR(back.green[128], 128 / 255.0 * 65535, 1.0);
}

TEST_F(X11DisplayServicesTest, ABackupLeftByACrashIsRestoredAtTheNextStart)
{
    CrtcRamp calibrated = identity(256);
    calibrated.green[200] = 40000;
    XTestTools::writeRamp(QStringLiteral("DUMMY0"), calibrated);
    displays->setTransferTables(displays->activeDisplays().at(0), ColorModel::buildTables(100, 100));
    ASSERT_TRUE(QFile::exists(backupPath()));
    // The process dies here: nothing restores. The next start finds the backup.
    displays.reset();
    EXPECT_NE(XTestTools::readRamp(QStringLiteral("DUMMY0")), calibrated);
    displays = std::make_unique<X11DisplayServices>(*connection, backupPath());
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), calibrated);
    EXPECT_FALSE(QFile::exists(backupPath()));
}

TEST_F(X11DisplayServicesTest, ABackupFromAnotherDisplayOrOfTheWrongShapeIsIgnored)
{
    displays.reset();
    QFile file(backupPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"display": ":9999", "crtcs": [{"crtc": 1, "red": [0], "green": [0], "blue": [0]}]})");
    file.close();
    displays = std::make_unique<X11DisplayServices>(*connection, backupPath());
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), identity(256));
    EXPECT_FALSE(QFile::exists(backupPath()));
}

TEST_F(X11DisplayServicesTest, ASecondMonitorReachesTheCallbackAndGetsTheTablesOnTheNextApply)
{
    VeskEngine engine;
    engine.setDisplayServices(displays.get());
    int callbacks = 0;
    displays->registerReconfigurationCallback([&](DisplayID) { ++callbacks; });
    engine.setEnabled(true);

    XTestTools::plugSecondMonitor();
    ASSERT_TRUE(waitFor([&] { return callbacks > 0; }));
    ASSERT_EQ(displays->activeDisplays().size(), 2u);
    engine.reapply();
    const auto ramps = XTestTools::readRamps();
    ASSERT_EQ(ramps.size(), 2u);
    EXPECT_EQ(ramps[0].second, ramps[1].second);
    EXPECT_NEAR(ramps[1].second.green.back() / 65535.0, 0.6554, 1e-3);

    // Unplugging leaves the first monitor as it was.
    const CrtcRamp first = XTestTools::readRamp(QStringLiteral("DUMMY0"));
    callbacks = 0;
    XTestTools::unplugSecondMonitor();
    ASSERT_TRUE(waitFor([&] { return callbacks > 0; }));
    EXPECT_EQ(displays->activeDisplays().size(), 1u);
    engine.reapply();
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), first);
    engine.setEnabled(false);
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), identity(256));
    engine.setDisplayServices(nullptr);
}

TEST_F(X11DisplayServicesTest, TheEngineReappliesByItselfAfterAReconfiguration)
{
    VeskEngine engine;
    engine.setDisplayServices(displays.get());
    engine.registerDisplayReconfigure();
    engine.setEnabled(true);
    XTestTools::plugSecondMonitor();
    ASSERT_TRUE(waitFor([&] {
        const auto ramps = XTestTools::readRamps();
        return ramps.size() == 2 && ramps[1].second == ramps[0].second;
    }));
    engine.setEnabled(false);
    engine.setDisplayServices(nullptr);
}
