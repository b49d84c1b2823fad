// Against a real Xorg with the dummy driver (see tests/support/with-xorg.sh).
#include "engine/ColorModel.h"
#include "engine/VeskEngine.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11DisplayServices.h"
#include "system/EventLog.h"

#include "support/TestEnvironment.h"
#include "support/XTestTools.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <functional>

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
        displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
    }
    void TearDown() override
    {
        if (displays)
            displays->restoreColorProfiles();
        displays.reset();
        connection.reset();
        XTestTools::unplugSecondMonitor();
    }
    QString backupPath(const QString& display = QString::fromLocal8Bit(qgetenv("DISPLAY"))) const
    {
        return dir.path() + u'/' + X11DisplayServices::backupFileName(display);
    }
    static QString displayName() { return X11DisplayServices::normalizedDisplayName(QString::fromLocal8Bit(qgetenv("DISPLAY"))); }

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

TEST_F(X11DisplayServicesTest, ABackupLeftByACrashIsRestoredByTheNextStartOnThatDisplay)
{
    // However the next start writes the display's name.
    const QString number = displayName().mid(1);
    for (const QString& name : {displayName(), displayName() + QStringLiteral(".0"), QStringLiteral("unix:") + number}) {
        CrtcRamp calibrated = identity(256);
        calibrated.green[200] = 40000;
        XTestTools::writeRamp(QStringLiteral("DUMMY0"), calibrated);
        displays->setTransferTables(displays->activeDisplays().at(0), ColorModel::buildTables(100, 100));
        ASSERT_TRUE(QFile::exists(backupPath())) << name.toStdString();
        // The process dies here: nothing restores. The next start finds the backup.
        displays.reset();
        EXPECT_NE(XTestTools::readRamp(QStringLiteral("DUMMY0")), calibrated);
        auto other = X11Connection::open(name.toLocal8Bit().constData());
        ASSERT_TRUE(other) << name.toStdString();
        X11DisplayServices next(*other, dir.path());
        EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), calibrated) << name.toStdString();
        EXPECT_FALSE(QFile::exists(backupPath())) << name.toStdString();
        displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
    }
}

TEST_F(X11DisplayServicesTest, AnotherDisplaysBackupIsLeftForItAndOneOfTheWrongShapeIsDropped)
{
    displays.reset();
    auto writeBackup = [](const QString& path, const QString& display) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral(R"({"display": "%1", "crtcs": [{"crtc": 1, "red": [0], "green": [0], "blue": [0]}]})")
                       .arg(display).toUtf8());
    };
    const QString elsewhere = backupPath(QStringLiteral(":9999"));
    writeBackup(elsewhere, QStringLiteral(":9999.0"));
    writeBackup(backupPath(), displayName());  // ours, but it fits no CRTC
    const QString shared = dir.path() + QStringLiteral("/ambrano-gamma.json");  // older versions' one file
    writeBackup(shared, QStringLiteral(":9999"));

    displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), identity(256));
    EXPECT_FALSE(QFile::exists(backupPath()));
    // Our own filter on and off again leaves the other display's originals where they are.
    displays->setTransferTables(displays->activeDisplays().at(0), ColorModel::buildTables(62, 100));
    displays->restoreColorProfiles();
    EXPECT_TRUE(QFile::exists(elsewhere));
    EXPECT_TRUE(QFile::exists(shared));
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

// The guard: another client resets the ramps while the filter is on.

namespace {

const QString reapplied = QStringLiteral("guard: ramps reset on DUMMY0, re-applied");
const QString gaveUp = QStringLiteral("guard: another program keeps changing the colours of DUMMY0");

int logLines(const QString& text)
{
    return static_cast<int>(EventLog::shared().dump().count(text));
}

class GuardTest : public X11DisplayServicesTest {
protected:
    void SetUp() override
    {
        X11DisplayServicesTest::SetUp();
        displays->setGuardInterval(50);
        engine.setDisplayServices(displays.get());
        engine.registerDisplayReconfigure();
    }
    void TearDown() override
    {
        engine.setEnabled(false);
        engine.setDisplayServices(nullptr);
        X11DisplayServicesTest::TearDown();
    }
    // Runs the event loop until the guard has checked once more.
    bool nextCheck()
    {
        const int checks = displays->guardChecks();
        return waitFor([&] { return displays->guardChecks() > checks; });
    }

    VeskEngine engine;
};

}  // namespace

TEST_F(GuardTest, AResetByAnotherClientIsUndoneAtTheNextCheckAndLoggedOnce)
{
    EXPECT_FALSE(displays->guardActive());  // filter off: no timer at all
    engine.setEnabled(true);
    EXPECT_TRUE(displays->guardActive());
    const CrtcRamp ours = XTestTools::readRamp(QStringLiteral("DUMMY0"));
    const std::vector<std::pair<const char*, std::function<void()>>> resets = {
        {"another client's ramps", [] { XTestTools::writeRamp(QStringLiteral("DUMMY0"), identity(256)); }},
        {"xrandr --gamma 1:1:1", [] { XTestTools::run(QStringLiteral("xrandr"), {"--output", "DUMMY0", "--gamma", "1:1:1"}); }},
    };
    for (const auto& [what, reset] : resets) {
        const int logged = logLines(reapplied);
        reset();
        ASSERT_NE(XTestTools::readRamp(QStringLiteral("DUMMY0")), ours) << what;
        ASSERT_TRUE(nextCheck()) << what;
        EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), ours) << what;
        EXPECT_EQ(logLines(reapplied), logged + 1) << what;
    }
    EXPECT_TRUE(engine.displayProblems().empty());
    engine.setEnabled(false);
    EXPECT_FALSE(displays->guardActive());
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), identity(256));
}

TEST_F(GuardTest, AProgramThatKeepsResettingIsLeftAloneUntilTheUserAsksAgain)
{
    engine.setEnabled(true);
    const int reapplies = logLines(reapplied);
    const int fights = logLines(gaveUp);
    CrtcRamp theirs = identity(256);
    for (auto& v : theirs.blue)
        v = static_cast<std::uint16_t>(v / 2);
    QTimer other;  // another program writing its ramps every 0.5 s
    other.setInterval(500);
    QObject::connect(&other, &QTimer::timeout, [&] { XTestTools::writeRamp(QStringLiteral("DUMMY0"), theirs); });
    XTestTools::writeRamp(QStringLiteral("DUMMY0"), theirs);
    other.start();
    ASSERT_TRUE(waitFor([&] { return !engine.displayProblems().empty(); }, 10000));
    other.stop();

    // Put back twice; the third reset within the minute ends it.
    EXPECT_EQ(logLines(reapplied) - reapplies, 2);
    EXPECT_EQ(logLines(gaveUp) - fights, 1);
    const auto problems = engine.displayProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].name, "DUMMY0");
    EXPECT_EQ(problems[0].result, GammaResult::heldByOther);
    EXPECT_FALSE(displays->guardActive());
    // No more writes from us there, not even when the engine re-applies (wake, reconfiguration).
    XTestTools::writeRamp(QStringLiteral("DUMMY0"), theirs);
    engine.reapply();
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), theirs);
    EXPECT_EQ(engine.displayProblems().size(), 1u);

    // The user moves the warmth: ours again, guarded again.
    engine.setWarmth(80);
    EXPECT_TRUE(engine.displayProblems().empty());
    EXPECT_NE(XTestTools::readRamp(QStringLiteral("DUMMY0")), theirs);
    EXPECT_TRUE(displays->guardActive());
    // And off gives back the ramps from before exactly.
    engine.setEnabled(false);
    EXPECT_EQ(XTestTools::readRamp(QStringLiteral("DUMMY0")), identity(256));
}

TEST_F(GuardTest, OurOwnAnimationIsNotTakenForAReset)
{
    displays->setGuardInterval(1);
    engine.setEnabled(true);
    const int checks = displays->guardChecks();
    const int logged = logLines(QStringLiteral("guard:"));
    engine.animateWarmth(100, 0.35);
    ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }));
    EXPECT_GT(displays->guardChecks() - checks, 10);  // the guard looked all through it
    EXPECT_EQ(logLines(QStringLiteral("guard:")), logged);
    EXPECT_TRUE(engine.displayProblems().empty());
}
