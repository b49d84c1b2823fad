// Against a real Xorg with the dummy driver (see tests/support/with-xorg.sh).
#include "engine/ColorModel.h"
#include "engine/VeskEngine.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11DisplayServices.h"
#include "system/EventLog.h"

#include "TestFiles.h"
#include "support/TestEnvironment.h"
#include "support/XTestTools.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTimer>

namespace {

// The dummy driver's start ramps, scaled per channel.
CrtcRamp ramp(double red = 1, double green = 1, double blue = 1)
{
    CrtcRamp r;
    for (int i = 0; i < 256; ++i) {
        r.red.push_back(static_cast<std::uint16_t>(i * 256 * red));
        r.green.push_back(static_cast<std::uint16_t>(i * 256 * green));
        r.blue.push_back(static_cast<std::uint16_t>(i * 256 * blue));
    }
    return r;
}
CrtcRamp shown() { return XTestTools::readRamp(QStringLiteral("DUMMY0")); }
void show(const CrtcRamp& r) { XTestTools::writeRamp(QStringLiteral("DUMMY0"), r); }
int logLines(const QString& text) { return static_cast<int>(EventLog::shared().dump().count(text)); }
const QString display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
const QString reapplied = QStringLiteral("guard: ramps reset on DUMMY0, re-applied");

class X11DisplayServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XTestTools::unplugSecondMonitor();
        show(ramp());
        ASSERT_TRUE(connection) << "no X display";
        displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
        displays->setGuardInterval(50);
        engine.setDisplayServices(displays.get());
        engine.registerDisplayReconfigure();
    }
    void TearDown() override
    {
        engine.setEnabled(false);
        engine.setDisplayServices(nullptr);
        XTestTools::unplugSecondMonitor();
    }
    void apply(double warmth, double brightness = 100)
    {
        displays->setTransferTables(displays->activeDisplays().at(0), ColorModel::buildTables(warmth, brightness));
    }
    QString backup(const QString& name = display) const { return dir.path() + u'/' + X11DisplayServices::backupFileName(name); }

    QTemporaryDir dir;
    std::unique_ptr<X11Connection> connection = X11Connection::open();
    std::unique_ptr<X11DisplayServices> displays;
    VeskEngine engine;
};

}  // namespace

TEST_F(X11DisplayServicesTest, TheTablesAreShownAndOffGivesBackTheRampsFromBeforeOnce)
{
    const auto ids = displays->activeDisplays();
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_FALSE(displays->isBuiltin(ids[0]));
    EXPECT_EQ(displays->pixelsWide(ids[0]), 1920u);
    EXPECT_EQ(displays->pixelsHigh(ids[0]), 1080u);
    EXPECT_EQ(displays->name(ids[0]), "DUMMY0");
    // A calibrated ramp set by someone else before we start; the originals are kept on disk
    // while the filter is on.
    show(ramp(1, 1, 0.9));
    apply(100);
    EXPECT_TRUE(QFile::exists(backup()));
    const TransferTables tables = ColorModel::buildTables(62, 70);
    EXPECT_EQ(displays->setTransferTables(ids[0], tables), GammaResult::applied);
    const CrtcRamp now = shown();
    ASSERT_EQ(now.blue.size(), 256u);
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_NEAR(now.red[i], tables.red[i] * 65535.0, 1.0) << i;
        EXPECT_NEAR(now.green[i], tables.green[i] * 65535.0, 1.0) << i;
        EXPECT_NEAR(now.blue[i], tables.blue[i] * 65535.0, 1.0) << i;
    }
    displays->restoreColorProfiles();
    EXPECT_EQ(shown(), ramp(1, 1, 0.9));
    EXPECT_FALSE(QFile::exists(backup()));
    // Restoring again with nothing saved touches nothing.
    show(ramp(0.9));
    displays->restoreColorProfiles();
    EXPECT_EQ(shown(), ramp(0.9));
    // Some drivers report all zeros at start: putting that back would black the screen.
    show(ramp(0, 0, 0));
    apply(62);
    displays->restoreColorProfiles();
    EXPECT_EQ(shown().red.back(), 65535);
    EXPECT_EQ(shown().green[128], 32896);
}

TEST_F(X11DisplayServicesTest, ABackupLeftByACrashIsRestoredByTheNextStartOnThatDisplayOnly)
{
    const QString name = X11DisplayServices::normalizedDisplayName(display);
    const QString shared = dir.path() + QStringLiteral("/ambrano-gamma.json");  // older versions' one file
    // However the next start writes the display's name.
    for (const QString& next : {name, name + QStringLiteral(".0"), QStringLiteral("unix") + name}) {
        SCOPED_TRACE(next.toStdString());
        show(ramp(1, 0.8));
        apply(100);
        ASSERT_TRUE(QFile::exists(backup()));
        engine.setDisplayServices(nullptr);
        displays.reset();  // the process dies here: nothing restores
        EXPECT_NE(shown(), ramp(1, 0.8));
        if (next.startsWith(QLatin1String("unix")))
            QFile::rename(backup(), shared);
        auto other = X11Connection::open(next.toLocal8Bit().constData());
        ASSERT_TRUE(other);
        X11DisplayServices(*other, dir.path());
        EXPECT_EQ(shown(), ramp(1, 0.8));
        EXPECT_FALSE(QFile::exists(backup()) || QFile::exists(shared));
        displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
    }
    // Another display's backup is left for it; ours of the wrong shape is dropped.
    auto write = [](const QString& path, const QString& owner) {
        ASSERT_TRUE(writeFile(path, QStringLiteral(R"({"display": "%1", "crtcs": [{"crtc": 1, "red": [0], "green": [0], "blue": [0]}]})").arg(owner).toUtf8()));
    };
    write(backup(QStringLiteral(":9999")), QStringLiteral(":9999.0"));
    write(backup(), name);
    write(shared, QStringLiteral(":9999"));
    show(ramp());
    displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
    EXPECT_EQ(shown(), ramp());
    EXPECT_FALSE(QFile::exists(backup()));
    apply(62);
    displays->restoreColorProfiles();
    EXPECT_TRUE(QFile::exists(backup(QStringLiteral(":9999"))));
    EXPECT_TRUE(QFile::exists(shared));
}

TEST_F(X11DisplayServicesTest, ASecondMonitorIsAReconfigurationAndGetsTheSameTables)
{
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
    // Unplugging leaves the first monitor as it was; off gives back the ramps from before.
    const CrtcRamp first = shown();
    callbacks = 0;
    XTestTools::unplugSecondMonitor();
    ASSERT_TRUE(waitFor([&] { return callbacks > 0; }));
    EXPECT_EQ(displays->activeDisplays().size(), 1u);
    engine.reapply();
    EXPECT_EQ(shown(), first);
    engine.setEnabled(false);
    EXPECT_EQ(shown(), ramp());
}

// The guard: other clients reset the ramps while the filter is on.
TEST_F(X11DisplayServicesTest, TheGuardUndoesAResetAtTheNextCheckAndLogsItOnce)
{
    EXPECT_FALSE(displays->guardActive());  // filter off: no timer at all
    engine.setEnabled(true);
    EXPECT_TRUE(displays->guardActive());
    const CrtcRamp ours = shown();
    for (bool xrandr : {false, true}) {
        const int logged = logLines(reapplied), checks = displays->guardChecks();
        if (xrandr)
            XTestTools::run(QStringLiteral("xrandr"), {"--output", "DUMMY0", "--gamma", "1:1:1"});
        else
            show(ramp());
        ASSERT_NE(shown(), ours);
        ASSERT_TRUE(waitFor([&] { return displays->guardChecks() > checks + 1; }));
        EXPECT_EQ(shown(), ours);
        EXPECT_EQ(logLines(reapplied), logged + 1);
    }
    EXPECT_TRUE(engine.displayProblems().empty());
    engine.setEnabled(false);
    EXPECT_FALSE(displays->guardActive());
    EXPECT_EQ(shown(), ramp());
}

TEST_F(X11DisplayServicesTest, TheGuardLeavesAProgramThatKeepsResettingAloneUntilTheUserAsksAgain)
{
    engine.setEnabled(true);
    const int reapplies = logLines(reapplied);
    QTimer other;  // another program writing its ramps every 0.5 s
    QObject::connect(&other, &QTimer::timeout, [&] { show(ramp(1, 1, 0.5)); });
    show(ramp(1, 1, 0.5));
    other.start(500);
    ASSERT_TRUE(waitFor([&] { return !engine.displayProblems().empty(); }, 10000));
    other.stop();
    // Put back twice; the third reset within the minute ends it.
    EXPECT_EQ(logLines(reapplied) - reapplies, 2);
    ASSERT_EQ(engine.displayProblems().size(), 1u);
    EXPECT_EQ(engine.displayProblems()[0].name, "DUMMY0");
    EXPECT_EQ(engine.displayProblems()[0].result, GammaResult::heldByOther);
    EXPECT_FALSE(displays->guardActive());
    // No more writes from us there, not even when the engine re-applies (wake, reconfiguration).
    show(ramp(1, 1, 0.5));
    engine.reapply();
    EXPECT_EQ(shown(), ramp(1, 1, 0.5));
    // The user moves the warmth: ours again, guarded again; off gives back the ramps from before.
    engine.setWarmth(80);
    EXPECT_TRUE(engine.displayProblems().empty());
    EXPECT_NE(shown(), ramp(1, 1, 0.5));
    EXPECT_TRUE(displays->guardActive());
    engine.setEnabled(false);
    EXPECT_EQ(shown(), ramp());
}

TEST_F(X11DisplayServicesTest, TheGuardDoesNotTakeOurOwnAnimationForAReset)
{
    displays->setGuardInterval(1);
    engine.setEnabled(true);
    const int checks = displays->guardChecks(), logged = logLines(QStringLiteral("guard:"));
    engine.animateWarmth(100, 0.35);
    ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }));
    EXPECT_GT(displays->guardChecks() - checks, 10);  // the guard looked all through it
    EXPECT_EQ(logLines(QStringLiteral("guard:")), logged);
}
