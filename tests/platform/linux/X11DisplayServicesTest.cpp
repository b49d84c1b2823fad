// Against a real Xorg with the dummy driver (see tests/support/with-xorg.sh).
#include "engine/VeskEngine.h"
#include "platform/linux/X11DisplayServices.h"
#include "system/EventLog.h"
#include "TestFiles.h"
#include "support/TestEnvironment.h"
#include "support/XTestTools.h"
#include <gtest/gtest.h>
#include <QProcess>
#include <QTemporaryDir>

static GammaRamp shown() { return XTestTools::readRamps()["DUMMY0"]; }
static void xrandr(const QStringList& args) { QProcess::execute(QStringLiteral("xrandr"), args); }
// Another program's ramps on DUMMY0, written by xrandr; returns them.
static GammaRamp theirs(const char* gamma, const char* brightness = "1")
{
    xrandr({"--output", "DUMMY0", "--gamma", gamma, "--brightness", brightness});
    return shown();
}
static int logLines(const QString& text) { return static_cast<int>(EventLog::shared().dump().count(text)); }
const QString reapplied = QStringLiteral("guard: ramps reset on DUMMY0, re-applied");

class X11DisplayServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(connection) << "no X display";
        xrandr({"--output", "DUMMY1", "--off"});
        start = theirs("1:1:1");
        displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
        displays->setGuardInterval(1);
    }
    void apply(double warmth) { displays->setTransferTables(displays->activeDisplays().at(0), ColorModel::buildTables(warmth, 100)); }
    QString backup() const { return dir.path() + u'/' + X11DisplayServices::backupFileName(qEnvironmentVariable("DISPLAY")); }
    QTemporaryDir dir;
    std::unique_ptr<X11Connection> connection = X11Connection::open();
    std::unique_ptr<X11DisplayServices> displays;
    VeskEngine engine;
    GammaRamp start;
};

TEST_F(X11DisplayServicesTest, TheTablesAreShownAndOffGivesBackTheRampsFromBeforeOnce)
{
    const DisplayID id = displays->activeDisplays().at(0);
    EXPECT_FALSE(displays->isBuiltin(id));
    EXPECT_EQ(std::pair(displays->pixelsWide(id), displays->pixelsHigh(id)), std::pair(1920u, 1080u));
    // Someone's calibrated ramps from before we start; our second write is not taken for them.
    const GammaRamp calibrated = theirs("1:1:0.9");
    apply(100);
    const TransferTables tables = ColorModel::buildTables(62, 70);
    EXPECT_EQ(displays->setTransferTables(id, tables), GammaResult::applied);
    EXPECT_EQ(shown(), GammaRamp::fromTables(tables, 256));
    displays->restoreColorProfiles();
    EXPECT_EQ(shown(), calibrated);
    EXPECT_FALSE(QFile::exists(backup()));
    // Restoring again with nothing saved touches nothing. Some drivers report all zeros at
    // start: putting that back would black the screen.
    const GammaRamp zeros = theirs("1:1:1", "0");
    displays->restoreColorProfiles();
    EXPECT_EQ(shown(), zeros);
    apply(62);
    displays->restoreColorProfiles();
    EXPECT_EQ(shown(), GammaRamp::identity(256));
}

TEST_F(X11DisplayServicesTest, ABackupLeftByACrashIsRestoredByTheNextStartOnThatDisplayOnly)
{
    const QString name = X11DisplayServices::normalizedDisplayName(qEnvironmentVariable("DISPLAY"));
    const QString shared = dir.path() + QStringLiteral("/ambrano-gamma.json");  // older versions' one file
    const GammaRamp before = theirs("1:0.8:1");
    // However the next start writes the display's name.
    for (const QString& next : {name, name + QStringLiteral(".0"), QStringLiteral("unix") + name}) {
        SCOPED_TRACE(next.toStdString());
        apply(100);
        displays.reset();  // the process dies here: nothing restores
        if (next.startsWith(QLatin1String("unix")))
            QFile::rename(backup(), shared);
        auto other = X11Connection::open(next.toLocal8Bit().constData());
        ASSERT_TRUE(other);
        X11DisplayServices(*other, dir.path());
        EXPECT_EQ(shown(), before);
        EXPECT_FALSE(QFile::exists(backup()) || QFile::exists(shared));
        displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
    }
    // Another display's backup is left for it; ours of the wrong shape is dropped.
    const QString wrongShape = QStringLiteral(R"({"display": "%1", "crtcs": [{"crtc": 1, "red": [0], "green": [0], "blue": [0]}]})");
    ASSERT_TRUE(writeFile(backup(), wrongShape.arg(name).toUtf8()));
    ASSERT_TRUE(writeFile(shared, wrongShape.arg(QStringLiteral(":9999.0")).toUtf8()));
    displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
    EXPECT_EQ(shown(), before);
    EXPECT_TRUE(!QFile::exists(backup()) && QFile::exists(shared));
}

TEST_F(X11DisplayServicesTest, ASecondMonitorIsAReconfigurationAndGetsTheSameTables)
{
    engine.setDisplayServices(displays.get());
    engine.setEnabled(true);
    int callbacks = 0;
    displays->registerReconfigurationCallback([&](DisplayID) { ++callbacks; });
    xrandr({"--newmode", "1280x800_60", "83.50", "1280", "1352", "1480", "1680", "800", "803", "809", "831", "-hsync", "+vsync"});
    xrandr({"--addmode", "DUMMY1", "1280x800_60"});
    xrandr({"--output", "DUMMY1", "--mode", "1280x800_60", "--right-of", "DUMMY0"});
    ASSERT_TRUE(waitFor([&] { return callbacks > 0; }));
    engine.reapply();
    const auto ramps = XTestTools::readRamps();
    EXPECT_EQ(ramps.at("DUMMY1"), ramps.at("DUMMY0"));
    EXPECT_NEAR(ramps.at("DUMMY1").green.back() / 65535.0, 0.6554, 1e-3);
    // Unplugging leaves the first monitor as it was; off gives back the ramps from before.
    const GammaRamp first = shown();
    callbacks = 0;
    xrandr({"--output", "DUMMY1", "--off"});
    ASSERT_TRUE(waitFor([&] { return callbacks > 0; }));
    EXPECT_EQ(displays->activeDisplays().size(), 1u);
    engine.reapply();
    EXPECT_EQ(shown(), first);
    engine.setEnabled(false);
    EXPECT_EQ(shown(), start);
}

// Other programs reset the ramps while the filter is on: the guard puts ours back, but not
// against one that keeps doing it.
TEST_F(X11DisplayServicesTest, TheGuardUndoesAResetButLeavesAProgramThatKeepsResettingAloneUntilTheUserAsksAgain)
{
    engine.setDisplayServices(displays.get());
    engine.registerDisplayReconfigure();  // the guard's lines go to the event log
    engine.setEnabled(true);
    const int checks = displays->guardChecks(), logged = logLines(QStringLiteral("guard:"));
    engine.animateWarmth(100, 0.35);
    ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }));
    EXPECT_GT(displays->guardChecks() - checks, 10);  // it looked all through our own animation
    EXPECT_EQ(logLines(QStringLiteral("guard:")), logged);
    const GammaRamp ours = shown();
    ASSERT_NE(theirs("1:1:1"), ours);
    ASSERT_TRUE(waitFor([&, c = displays->guardChecks()] { return displays->guardChecks() > c + 1; }));
    EXPECT_EQ(shown(), ours);
    EXPECT_EQ(logLines(reapplied), logged + 1);  // once, not at every check
    const GammaRamp others = theirs("1:1:0.5");  // another program, every 0.5 s
    for (int i = 0; i < 20 && engine.displayProblems().empty(); ++i) {
        spin(500);
        theirs("1:1:0.5");
    }
    // The third reset within the minute ends it.
    EXPECT_EQ(logLines(reapplied), logged + 2);
    ASSERT_EQ(engine.displayProblems().size(), 1u);
    EXPECT_EQ(std::pair(engine.displayProblems()[0].name, engine.displayProblems()[0].result), std::pair(std::string("DUMMY0"), GammaResult::heldByOther));
    // No more writes from us there, not even when the engine re-applies (wake, reconfiguration).
    engine.reapply();
    EXPECT_EQ(shown(), others);
    // The user moves the warmth: ours again, guarded again; off gives back the ramps from before.
    engine.setWarmth(80);
    EXPECT_TRUE(engine.displayProblems().empty() && displays->guardActive());
    engine.setEnabled(false);
    EXPECT_FALSE(displays->guardActive());  // filter off: no timer at all
    EXPECT_EQ(shown(), start);
}
