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

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

namespace {

GammaRamp shown() { return XTestTools::readRamps()[QStringLiteral("DUMMY0")]; }
int xrandr(const QStringList& args) { return QProcess::execute(QStringLiteral("xrandr"), args); }
// Another program's ramps on DUMMY0, written by xrandr; returns them.
GammaRamp theirs(const QString& gamma, const QString& brightness = QStringLiteral("1"))
{
    xrandr({"--output", "DUMMY0", "--gamma", gamma, "--brightness", brightness});
    return shown();
}
int logLines(const QString& text) { return static_cast<int>(EventLog::shared().dump().count(text)); }
const QString reapplied = QStringLiteral("guard: ramps reset on DUMMY0, re-applied");

class X11DisplayServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(connection) << "no X display";
        xrandr({"--output", "DUMMY1", "--off"});
        start = theirs(QStringLiteral("1:1:1"));
        displays = std::make_unique<X11DisplayServices>(*connection, dir.path());
        displays->setGuardInterval(1);
    }
    void filterOn()
    {
        engine.setDisplayServices(displays.get());
        engine.registerDisplayReconfigure();
        engine.setEnabled(true);
    }
    void apply(double warmth) { displays->setTransferTables(displays->activeDisplays().at(0), ColorModel::buildTables(warmth, 100)); }
    QString backup() const { return dir.path() + u'/' + X11DisplayServices::backupFileName(qEnvironmentVariable("DISPLAY")); }

    QTemporaryDir dir;
    std::unique_ptr<X11Connection> connection = X11Connection::open();
    std::unique_ptr<X11DisplayServices> displays;
    VeskEngine engine;
    GammaRamp start;
};

}  // namespace

TEST_F(X11DisplayServicesTest, TheTablesAreShownAndOffGivesBackTheRampsFromBeforeOnce)
{
    const auto ids = displays->activeDisplays();
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_FALSE(displays->isBuiltin(ids[0]));
    EXPECT_EQ(std::pair(displays->pixelsWide(ids[0]), displays->pixelsHigh(ids[0])), std::pair(1920u, 1080u));
    // Calibrated ramps someone set before we start are kept on disk while the filter is on;
    // our second write is not taken for them.
    const GammaRamp calibrated = theirs(QStringLiteral("1:1:0.9"));
    apply(100);
    const TransferTables tables = ColorModel::buildTables(62, 70);
    EXPECT_EQ(displays->setTransferTables(ids[0], tables), GammaResult::applied);
    EXPECT_TRUE(QFile::exists(backup()));
    EXPECT_EQ(shown(), GammaRamp::fromTables(tables, 256));
    displays->restoreColorProfiles();
    EXPECT_EQ(shown(), calibrated);
    EXPECT_FALSE(QFile::exists(backup()));
    // Restoring again with nothing saved touches nothing.
    const GammaRamp later = theirs(QStringLiteral("0.9:1:1"));
    displays->restoreColorProfiles();
    EXPECT_EQ(shown(), later);
    // Some drivers report all zeros at start: putting that back would black the screen.
    theirs(QStringLiteral("1:1:1"), QStringLiteral("0"));
    apply(62);
    displays->restoreColorProfiles();
    EXPECT_EQ(shown(), GammaRamp::identity(256));
}

TEST_F(X11DisplayServicesTest, ABackupLeftByACrashIsRestoredByTheNextStartOnThatDisplayOnly)
{
    const QString name = X11DisplayServices::normalizedDisplayName(qEnvironmentVariable("DISPLAY"));
    const QString shared = dir.path() + QStringLiteral("/ambrano-gamma.json");  // older versions' one file
    const GammaRamp before = theirs(QStringLiteral("1:0.8:1"));
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
    EXPECT_FALSE(QFile::exists(backup()));
    apply(62);
    displays->restoreColorProfiles();
    EXPECT_TRUE(QFile::exists(shared));
}

TEST_F(X11DisplayServicesTest, ASecondMonitorIsAReconfigurationAndGetsTheSameTables)
{
    filterOn();
    int callbacks = 0;
    displays->registerReconfigurationCallback([&](DisplayID) { ++callbacks; });
    xrandr({"--newmode", "1280x800_60", "83.50", "1280", "1352", "1480", "1680", "800", "803", "809", "831", "-hsync", "+vsync"});
    xrandr({"--addmode", "DUMMY1", "1280x800_60"});
    xrandr({"--output", "DUMMY1", "--mode", "1280x800_60", "--right-of", "DUMMY0"});
    ASSERT_TRUE(waitFor([&] { return callbacks > 0; }));
    ASSERT_EQ(displays->activeDisplays().size(), 2u);
    engine.reapply();
    const auto ramps = XTestTools::readRamps();
    ASSERT_EQ(ramps.size(), 2u);
    EXPECT_EQ(ramps.at(QStringLiteral("DUMMY1")), ramps.at(QStringLiteral("DUMMY0")));
    EXPECT_NEAR(ramps.at(QStringLiteral("DUMMY1")).green.back() / 65535.0, 0.6554, 1e-3);
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
    filterOn();
    EXPECT_TRUE(displays->guardActive());
    const int checks = displays->guardChecks(), logged = logLines(QStringLiteral("guard:"));
    engine.animateWarmth(100, 0.35);
    ASSERT_TRUE(waitFor([&] { return !engine.isAnimating(); }));
    EXPECT_GT(displays->guardChecks() - checks, 10);  // it looked all through our own animation
    EXPECT_EQ(logLines(QStringLiteral("guard:")), logged);

    const GammaRamp ours = shown();
    ASSERT_NE(theirs(QStringLiteral("1:1:1")), ours);
    ASSERT_TRUE(waitFor([&, c = displays->guardChecks()] { return displays->guardChecks() > c + 1; }));
    EXPECT_EQ(shown(), ours);
    EXPECT_EQ(logLines(reapplied), logged + 1);  // once, not at every check
    EXPECT_TRUE(engine.displayProblems().empty());

    QTimer other;  // another program writing its ramps every 0.5 s
    QObject::connect(&other, &QTimer::timeout, [&] { theirs(QStringLiteral("1:1:0.5")); });
    const GammaRamp others = theirs(QStringLiteral("1:1:0.5"));
    other.start(500);
    ASSERT_TRUE(waitFor([&] { return !engine.displayProblems().empty(); }, 10000));
    other.stop();
    // The third reset within the minute ends it.
    EXPECT_EQ(logLines(reapplied), logged + 2);
    ASSERT_EQ(engine.displayProblems().size(), 1u);
    EXPECT_EQ(engine.displayProblems()[0].name, "DUMMY0");
    EXPECT_EQ(engine.displayProblems()[0].result, GammaResult::heldByOther);
    EXPECT_FALSE(displays->guardActive());
    // No more writes from us there, not even when the engine re-applies (wake, reconfiguration).
    theirs(QStringLiteral("1:1:0.5"));
    engine.reapply();
    EXPECT_EQ(shown(), others);
    // The user moves the warmth: ours again, guarded again; off gives back the ramps from before.
    engine.setWarmth(80);
    EXPECT_TRUE(engine.displayProblems().empty());
    EXPECT_NE(shown(), others);
    EXPECT_TRUE(displays->guardActive());
    engine.setEnabled(false);
    EXPECT_FALSE(displays->guardActive());  // filter off: no timer at all
    EXPECT_EQ(shown(), start);
}
