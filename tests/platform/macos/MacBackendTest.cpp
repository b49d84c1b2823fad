// The macOS backends, compiled against the stand-in headers, on the scripted Mac of
// tests/macos-stubs: what they ask of the system and what they hand to the logic above.

#include "FakeMacSystem.h"

#include "brightness/DDC.h"
#include "engine/VeskEngine.h"
#include "platform/macos/CarbonHotKeys.h"
#include "platform/macos/DisplayServicesBacklight.h"
#include "platform/macos/IOAVServiceTransport.h"
#include "platform/macos/IOKitSleepWatcher.h"
#include "platform/macos/LibprocRunningApplications.h"
#include "platform/macos/MacInstaller.h"
#include "platform/macos/QuartzDisplayServices.h"
#include "platform/linux/LibArchiveExtractor.h"

#include "FakeProcessLauncher.h"
#include "support/ZipBuilder.h"

#include <IOKit/IOMessage.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

class MacBackend : public ::testing::Test {
protected:
    void SetUp() override { FakeMac::reset(); }
    // Whatever a backend created it must have released by the time it is gone.
    void TearDown() override { EXPECT_EQ(FakeMac::liveObjects(), 0); }

    static void settle(int ms = 0)
    {
        QDeadlineTimer deadline(ms);
        do
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        while (!deadline.hasExpired());
    }
};

// --- Displays -------------------------------------------------------------------------

struct Reference {
    double warmth;
    double brightness;
    float red, green, blue;  // the last entry of each table, nearly
};

class QuartzTables : public MacBackend, public ::testing::WithParamInterface<Reference> {};

TEST_P(QuartzTables, EveryDisplayGetsTheEngineTablesUnchanged)
{
    const Reference ref = GetParam();
    QuartzDisplayServices displays;
    VeskEngine engine;
    engine.setDisplayServices(&displays);
    engine.setWarmth(ref.warmth);
    engine.setBrightness(ref.brightness);
    FakeMac::system().tableWrites.clear();
    FakeMac::system().restores = 0;
    engine.setEnabled(true);

    const TransferTables expected = ColorModel::buildTables(ref.warmth, ref.brightness);
    const auto& writes = FakeMac::system().tableWrites;
    ASSERT_EQ(writes.size(), 2U);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].display, i + 1);
        ASSERT_EQ(writes[i].size, 256U);
        EXPECT_TRUE(std::equal(expected.red.begin(), expected.red.end(), writes[i].red.begin()));
        EXPECT_TRUE(std::equal(expected.green.begin(), expected.green.end(), writes[i].green.begin()));
        EXPECT_TRUE(std::equal(expected.blue.begin(), expected.blue.end(), writes[i].blue.begin()));
        EXPECT_NEAR(writes[i].red.back(), ref.red, 0.02);
        EXPECT_NEAR(writes[i].green.back(), ref.green, 0.02);
        EXPECT_NEAR(writes[i].blue.back(), ref.blue, 0.02);
        EXPECT_FLOAT_EQ(writes[i].red.front(), 0.0F);
    }

    engine.setEnabled(false);
    EXPECT_EQ(FakeMac::system().restores, 1);
    EXPECT_EQ(writes.size(), 2U);
}

INSTANTIATE_TEST_SUITE_P(References, QuartzTables, ::testing::Values(
    Reference {0, 100, 1.0F, 1.0F, 1.0F},   // 6500 K: nearly the identity
    Reference {100, 50, 0.5F, 0.0F, 0.0F})); // pure red at half brightness

TEST_F(MacBackend, DescribesTheActiveDisplaysAndWhatTheirTablesDid)
{
    QuartzDisplayServices displays;
    EXPECT_EQ(displays.activeDisplays(), (std::vector<DisplayID> {1, 2}));
    EXPECT_TRUE(displays.isBuiltin(1));
    EXPECT_FALSE(displays.isBuiltin(2));
    EXPECT_EQ(displays.pixelsWide(2), 2560U);
    EXPECT_EQ(displays.pixelsHigh(2), 1440U);
    EXPECT_EQ(displays.setTransferTables(2, {}), GammaResult::applied);
    FakeMac::system().displays[1].gammaError = kCGErrorNoneAvailable;
    EXPECT_EQ(displays.setTransferTables(2, {}), GammaResult::unsupported);
    FakeMac::system().displays.clear();
    EXPECT_TRUE(displays.activeDisplays().empty());
}

TEST_F(MacBackend, AReconfigurationReachesTheEngineOnceItIsDone)
{
    {
        QuartzDisplayServices displays;
        VeskEngine engine;
        engine.setDisplayServices(&displays);
        engine.registerDisplayReconfigure();
        engine.setEnabled(true);
        auto& writes = FakeMac::system().tableWrites;
        writes.clear();

        // Announced before and after the change; only the second is a change to re-apply.
        EXPECT_EQ(FakeMac::reconfigure(2, kCGDisplayBeginConfigurationFlag), 1);
        EXPECT_EQ(FakeMac::reconfigure(2, kCGDisplaySetModeFlag), 1);
        EXPECT_TRUE(writes.empty()) << "the engine ran inside the system's callback";
        settle(VeskEngine::reconfigureDelayMs + 400);
        EXPECT_EQ(writes.size(), 2U);
    }
    EXPECT_TRUE(FakeMac::system().reconfigurationCallbacks.empty());
}

// --- Built-in backlight ---------------------------------------------------------------

struct Framework {
    const char* library;  // in FAKE_DISPLAYSERVICES_DIR; nullptr: not there at all
    bool set, get, enableALC, alcEnabled;
};

class DisplayServicesFramework : public MacBackend, public ::testing::WithParamInterface<Framework> {};

TEST_P(DisplayServicesFramework, EachMissingFunctionLeavesOnlyItsOperationAbsent)
{
    const Framework f = GetParam();
    const QByteArray path = f.library ? QByteArray(FAKE_DISPLAYSERVICES_DIR "/") + f.library : QByteArray("/nonexistent/DisplayServices");
    const DisplayServicesBacklight backlight(path.constData());
    const Backlight& b = backlight.functions();
    EXPECT_EQ(bool(b.setBrightness), f.set);
    EXPECT_EQ(bool(b.getBrightness), f.get);
    EXPECT_EQ(bool(b.enableALC), f.enableALC);
    EXPECT_EQ(bool(b.alcEnabled), f.alcEnabled);
}

INSTANTIATE_TEST_SUITE_P(Symbols, DisplayServicesFramework, ::testing::Values(
    Framework {"all.so", true, true, true, true},
    Framework {"DisplayServicesSetBrightness.so", false, true, true, true},
    Framework {"DisplayServicesGetBrightness.so", true, false, true, true},
    Framework {"DisplayServicesEnableAmbientLightCompensation.so", true, true, false, true},
    Framework {"DisplayServicesAmbientLightCompensationEnabled.so", true, true, true, false},
    Framework {nullptr, false, false, false, false}));

TEST_F(MacBackend, BacklightReadsAndPinsTheBuiltInPanel)
{
    const DisplayServicesBacklight backlight(FAKE_DISPLAYSERVICES_DIR "/all.so");
    const Backlight& b = backlight.functions();
    float level = -1.0F;
    ASSERT_EQ(b.getBrightness(1, &level), 0);
    EXPECT_FLOAT_EQ(level, 0.4F);
    bool alc = false;
    ASSERT_EQ(b.alcEnabled(1, &alc), 0);
    EXPECT_TRUE(alc);

    EXPECT_EQ(b.setBrightness(1, 1.0F), 0);
    EXPECT_EQ(b.enableALC(1, false), 0);
    EXPECT_FLOAT_EQ(FakeMac::system().backlight[1], 1.0F);
    EXPECT_FALSE(FakeMac::system().ambientLight[1]);

    // The external monitor has no such backlight: the values given are left alone.
    level = -1.0F;
    alc = true;
    EXPECT_NE(b.getBrightness(2, &level), 0);
    EXPECT_NE(b.alcEnabled(2, &alc), 0);
    EXPECT_FLOAT_EQ(level, -1.0F);
    EXPECT_TRUE(alc);
}

// --- DDC/CI ---------------------------------------------------------------------------

TEST_F(MacBackend, DDCTalksOnlyToTheExternalMonitorsService)
{
    IOAVServiceTransport transport;
    const DDC ddc(&transport);
    EXPECT_TRUE(ddc.available());
    const std::vector<DDCService> services = ddc.externalServices();
    ASSERT_EQ(services.size(), 1U);

    ddc.writeLuminance(services[0], 100);
    EXPECT_EQ(ddc.readLuminance(services[0]), (Luminance {50, 100}));

    const std::vector<std::uint8_t> set {0x84, 0x03, 0x10, 0x00, 0x64, 0xCC};
    const std::vector<std::uint8_t> get {0x82, 0x01, 0x10, 0xAC};
    const auto& t = FakeMac::system().transfers;
    ASSERT_EQ(t.size(), 5U);
    for (const FakeMac::I2CTransfer& transfer : t) {
        EXPECT_EQ(transfer.entry, 3) << "not the external monitor's DCPAVServiceProxy";
        EXPECT_EQ(transfer.chip, 0x37U);
        EXPECT_EQ(transfer.dataAddress, 0x51U);
    }
    EXPECT_EQ(t[0].bytes, set);
    EXPECT_EQ(t[1].bytes, set);
    EXPECT_EQ(t[2].bytes, get);
    EXPECT_EQ(t[3].bytes, get);
    EXPECT_FALSE(t[4].write);

    FakeMac::system().i2cReply.clear();
    EXPECT_FALSE(ddc.readLuminance(services[0]));
}

// --- Hot keys -------------------------------------------------------------------------

TEST_F(MacBackend, AHotKeyPressIsDeliveredOnceAfterTheSystemsDispatch)
{
    int presses = 0;
    {
        CarbonHotKeys hotKeys;
        hotKeys.installHandler([&presses] { ++presses; });
        hotKeys.installHandler([&presses] { ++presses; });
        EXPECT_EQ(FakeMac::system().handlersInstalled, 1);

        // ⌃⌥⌘Z in the stored form goes to the system as it is.
        const std::optional<HotKeyService::Ref> ref = hotKeys.registerHotKey(6, 0x1900);
        ASSERT_TRUE(ref);
        EXPECT_EQ(FakeMac::registeredHotKeys(), (std::vector<std::pair<UInt32, UInt32>> {{6, 0x1900}}));

        EXPECT_EQ(FakeMac::pressHotKey(6, 0x1900), 1);
        EXPECT_EQ(presses, 0);
        settle();
        EXPECT_EQ(presses, 1);

        // The recorder's key: the native key is the virtual key code; a lone modifier is none.
        EXPECT_EQ(hotKeys.keyCodeOf(6, 0), 6U);
        EXPECT_FALSE(hotKeys.keyCodeOf(0x37, 0));  // kVK_Command

        FakeMac::system().takenHotKeys.insert({49, 0x100});
        EXPECT_FALSE(hotKeys.registerHotKey(49, 0x100));

        hotKeys.unregisterHotKey(*ref);
        EXPECT_TRUE(FakeMac::registeredHotKeys().empty());
        EXPECT_TRUE(hotKeys.registerHotKey(0, 0x200));
    }
    // Gone with the service: its registration and its handler.
    EXPECT_TRUE(FakeMac::registeredHotKeys().empty());
    EXPECT_EQ(FakeMac::pressHotKey(0, 0x200), 0);
    settle();
    EXPECT_EQ(presses, 1);
}

// --- Wake -----------------------------------------------------------------------------

TEST_F(MacBackend, WakeIsToldOnceAndSleepIsNeverHeldUp)
{
    int wakes = 0;
    {
        IOKitSleepWatcher watcher;
        ASSERT_TRUE(watcher.isListening());
        watcher.setOnWake([&wakes] { ++wakes; });

        ASSERT_EQ(FakeMac::powerMessage(kIOMessageCanSystemSleep, 11), 1);
        FakeMac::powerMessage(kIOMessageSystemWillSleep, 12);
        FakeMac::powerMessage(kIOMessageSystemWillPowerOn, 13);
        FakeMac::powerMessage(kIOMessageSystemHasPoweredOn, 14);
        EXPECT_EQ(FakeMac::system().allowedPowerChanges, (std::vector<intptr_t> {11, 12}));
        EXPECT_EQ(wakes, 0);
        settle();
        EXPECT_EQ(wakes, 1);
    }
    EXPECT_TRUE(FakeMac::system().powerDeregistered);
    EXPECT_EQ(FakeMac::powerMessage(kIOMessageSystemHasPoweredOn, 15), 0);
}

// --- Running applications -------------------------------------------------------------

TEST_F(MacBackend, RunningApplicationsAreNamedAfterTheirBundles)
{
    QTemporaryDir root;
    const QString flux = root.filePath(QStringLiteral("Flux.app"));
    QDir().mkpath(flux + QStringLiteral("/Contents/MacOS"));
    QFile plist(flux + QStringLiteral("/Contents/Info.plist"));
    ASSERT_TRUE(plist.open(QIODevice::WriteOnly));
    plist.write("<plist><dict><key>CFBundleName</key><string>Flux</string>"
                "<key>CFBundleIdentifier</key><string>org.herf.Flux</string></dict></plist>");
    plist.close();

    const std::uint32_t me = 501;
    FakeMac::system().processes = {
        {101, me, (flux + QStringLiteral("/Contents/MacOS/Flux")).toStdString()},
        {102, me, "/opt/homebrew/bin/redshift"},
        {103, 502, "/Applications/Other.app/Contents/MacOS/Other"},  // another user's
        {104, me, ""},                                               // gone meanwhile
        {105, me, "/Applications/Ambrano.app/Contents/MacOS/Ambrano"},  // this process
        {106, me, "/Applications/Gone.app/Contents/MacOS/Gone"},     // bundle removed
    };
    LibprocRunningApplications applications(me, 105);
    const std::vector<RunningApplication> apps = applications.runningApplications();
    ASSERT_EQ(apps.size(), 3U);
    EXPECT_EQ(apps[0].localizedName, QStringLiteral("Flux"));
    EXPECT_EQ(apps[0].bundleIdentifier, QStringLiteral("org.herf.Flux"));
    EXPECT_EQ(apps[1].localizedName, QStringLiteral("redshift"));
    EXPECT_FALSE(apps[1].bundleIdentifier);
    EXPECT_EQ(apps[2].localizedName, QStringLiteral("Gone"));
    EXPECT_FALSE(apps[2].bundleIdentifier);
}

TEST(LibprocBundles, TheInnermostBundleOwnsTheExecutable)
{
    const std::pair<QString, std::optional<QString>> cases[] = {
        {"/Applications/Slack.app/Contents/Frameworks/Slack Helper.app/Contents/MacOS/Slack Helper",
            "/Applications/Slack.app/Contents/Frameworks/Slack Helper.app"},
        {"/Applications/Flux.app/Contents/Resources/flux-helper", std::nullopt},
        {"/tmp/.app/Contents/MacOS/x", std::nullopt},
    };
    for (const auto& [path, bundle] : cases)
        EXPECT_EQ(LibprocRunningApplications::enclosingBundle(path), bundle) << path.toStdString();
}

// --- Installer ------------------------------------------------------------------------

QByteArray macBundleZip(const QString& version, const QString& executable = QStringLiteral("Ambrano"), int mode = 0755)
{
    const QString plist = QStringLiteral("<plist><dict><key>CFBundleExecutable</key><string>Ambrano</string>"
                                         "<key>CFBundleShortVersionString</key><string>%1</string></dict></plist>").arg(version);
    return ZipBuilder()
        .folder(QStringLiteral("Ambrano.app"))
        .file(QStringLiteral("Ambrano.app/Contents/Info.plist"), plist.toUtf8())
        .file(QStringLiteral("Ambrano.app/Contents/MacOS/") + executable, "new " + version.toUtf8(), mode)
        .build();
}

class MacInstallerTest : public MacBackend {
protected:
    void SetUp() override
    {
        MacBackend::SetUp();
        ASSERT_TRUE(root.isValid());
        // Blanks, quotes, "$", "$(…)", backquotes and a line break: no path may change the script.
        apps = root.filePath(QStringLiteral("my apps 'q' \"d\" $HOME $(touch pwned) `touch pwned`\n"));
        ASSERT_TRUE(QDir().mkpath(current() + QStringLiteral("/Contents/MacOS")));
        QFile binary(current() + QStringLiteral("/Contents/MacOS/Ambrano"));
        ASSERT_TRUE(binary.open(QIODevice::WriteOnly));
        binary.write("old");
    }
    QString current() const { return apps + QStringLiteral("/Ambrano.app"); }
    std::unique_ptr<MacInstaller> makeInstaller()
    {
        auto installer = std::make_unique<MacInstaller>(extractor, launcher,
            [this](const QString& p, const QStringList& a) { ran.push_back({p, a}); });
        installer->setTemporaryFolder(root.filePath(QStringLiteral("tmp")));
        installer->setRunningExecutable(current() + QStringLiteral("/Contents/MacOS/Ambrano"));
        installer->setRunningPid(999999999);
        return installer;
    }

    QTemporaryDir root;
    QString apps;
    LibArchiveExtractor extractor;
    FakeProcessLauncher launcher;
    std::vector<std::pair<QString, QStringList>> ran;
};

TEST_F(MacInstallerTest, HostilePathsReachTheScriptAsArgumentsAndTheSwapHappens)
{
    ASSERT_TRUE(makeInstaller()->install(macBundleZip(QStringLiteral("1.4")), QStringLiteral("1.4")));
    const QString work = root.filePath(QStringLiteral("tmp/veskupdate-1.4"));
    const QString newBundle = work + QStringLiteral("/Ambrano.app");
    const QString script = work + QStringLiteral("/swap.sh");
    ASSERT_EQ(ran.size(), 2U);
    EXPECT_EQ(ran[0], std::make_pair(QStringLiteral("/usr/bin/xattr"), QStringList {"-dr", "com.apple.quarantine", newBundle}));
    EXPECT_EQ(ran[1], std::make_pair(QStringLiteral("/bin/chmod"), QStringList {"+x", script}));
    ASSERT_EQ(launcher.calls().size(), 1);
    const FakeProcessLauncher::Call call = launcher.calls().first();
    EXPECT_EQ(call.program, QStringLiteral("/bin/bash"));
    EXPECT_EQ(call.arguments, (QStringList {script, "999999999", newBundle, current()}));

    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_EQ(text, MacInstaller::swapScript());
    EXPECT_EQ(text.split(QLatin1Char('\n')).size(), 5);

    // The script itself, with the Mac programs standing in as shell functions.
    QProcess bash;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OPENED"), root.filePath(QStringLiteral("opened")));
    bash.setProcessEnvironment(env);
    bash.setWorkingDirectory(root.path());
    bash.start(QStringLiteral("/bin/bash"), QStringList {QStringLiteral("-c"),
        QStringLiteral("function /usr/bin/ditto { cp -R -- \"$1\" \"$2\"; }; function /usr/bin/xattr { :; }; "
                       "function /usr/bin/open { printf %s \"$1\" > \"$OPENED\"; }; source \"$0\" \"$@\"")}
        + call.arguments);
    ASSERT_TRUE(bash.waitForFinished(20000));

    QFile binary(current() + QStringLiteral("/Contents/MacOS/Ambrano"));
    ASSERT_TRUE(binary.open(QIODevice::ReadOnly));
    EXPECT_EQ(binary.readAll(), QByteArray("new 1.4"));
    QFile opened(root.filePath(QStringLiteral("opened")));
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(opened.readAll()), current());
    EXPECT_FALSE(QFile::exists(current() + QStringLiteral(".new")));
    EXPECT_FALSE(QFile::exists(current() + QStringLiteral(".old")));
    EXPECT_FALSE(QFile::exists(root.filePath(QStringLiteral("pwned"))));
}

TEST_F(MacInstallerTest, ABundleThatCouldNotRunOrIsNotTheAnnouncedVersionStartsNothing)
{
    const std::pair<const char*, QByteArray> cases[] = {
        {"older version inside", macBundleZip(QStringLiteral("1.3"))},
        {"no executable of our name", macBundleZip(QStringLiteral("1.4"), QStringLiteral("Other"))},
        {"executable not executable", macBundleZip(QStringLiteral("1.4"), QStringLiteral("Ambrano"), 0644)},
        {"no Info.plist", ZipBuilder().file(QStringLiteral("Ambrano.app/Contents/MacOS/Ambrano"), "x", 0755).build()},
    };
    for (const auto& [what, zip] : cases)
        EXPECT_FALSE(makeInstaller()->install(zip, QStringLiteral("1.4"))) << what;

    auto outsideBundle = makeInstaller();
    outsideBundle->setRunningExecutable(root.filePath(QStringLiteral("build/src/ambrano")));
    EXPECT_FALSE(outsideBundle->install(macBundleZip(QStringLiteral("1.4")), QStringLiteral("1.4")));
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(launcher.calls().isEmpty());
}

TEST(MacInstallerBundle, TheBundleOfTheRunningExecutable)
{
    EXPECT_EQ(MacInstaller::bundleForExecutable(QStringLiteral("/Applications/Ambrano.app/Contents/MacOS/Ambrano")),
        QStringLiteral("/Applications/Ambrano.app"));
    EXPECT_FALSE(MacInstaller::bundleForExecutable(QStringLiteral("/opt/Ambrano.app/bin/ambrano")));
    EXPECT_FALSE(MacInstaller::bundleForExecutable(QStringLiteral("/usr/bin/ambrano")));
}

}  // namespace
