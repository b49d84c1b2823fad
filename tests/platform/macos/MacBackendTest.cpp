#include "FakeMacSystem.h"  // the scripted Mac the backends run on
#include "brightness/DDC.h"
#include "engine/VeskEngine.h"
#include "platform/linux/LibArchiveExtractor.h"
#include "platform/macos/CarbonHotKeys.h"
#include "platform/macos/DisplayServicesBacklight.h"
#include "platform/macos/IOAVServiceTransport.h"
#include "platform/macos/IOKitSleepWatcher.h"
#include "platform/macos/LibprocRunningApplications.h"
#include "platform/macos/MacInstaller.h"
#include "platform/macos/QuartzDisplayServices.h"
#include "FakeProcessLauncher.h"
#include "TestFiles.h"
#include "support/TestEnvironment.h"
#include "support/ZipBuilder.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct MacBackend : ::testing::Test {
    void SetUp() override { mac = {}; }
    void TearDown() override { EXPECT_EQ(mac.liveObjects, 0); }  // all a backend created, released when it is gone
};

TEST_F(MacBackend, EveryDisplayGetsTheEngineTablesUnchangedAndOffRestoresThem)
{
    {
        QuartzDisplayServices displays;
        EXPECT_EQ(std::pair(displays.isBuiltin(1), displays.isBuiltin(2)), std::pair(true, false));
        VeskEngine engine;
        engine.setDisplayServices(&displays);
        engine.registerDisplayReconfigure();
        engine.setWarmth(100);
        engine.setBrightness(50);
        engine.setEnabled(true);
        const TransferTables t = ColorModel::buildTables(100, 50);
        const auto v = [](const auto& table) { return std::vector<float>(table.begin(), table.end()); };
        const auto write = [&](CGDirectDisplayID d) { return std::tuple(d, v(t.red), v(t.green), v(t.blue)); };
        EXPECT_EQ(mac.tableWrites, (std::vector {write(1), write(2)}));
        // Announced before and after a change: re-applied once, never inside the system's callback.
        const auto [reconfigured, userInfo] = mac.callbacks.at(0);
        reconfigured(2, kCGDisplayBeginConfigurationFlag, userInfo);
        spin(VeskEngine::reconfigureDelayMs + 400);
        reconfigured(2, kCGDisplaySetModeFlag, userInfo);
        EXPECT_EQ(mac.tableWrites.size(), 2U);
        spin(VeskEngine::reconfigureDelayMs + 400);
        EXPECT_EQ(mac.tableWrites.size(), 4U);
        mac.restores = 0;
        engine.setEnabled(false);
        EXPECT_EQ(mac.restores, 1);
        mac.displays = {1};  // the monitor unplugged
        EXPECT_EQ(std::pair(displays.setTransferTables(1, t), displays.setTransferTables(2, t)),
            std::pair(GammaResult::applied, GammaResult::unsupported));
    }
    EXPECT_TRUE(mac.callbacks.empty());
}

TEST_F(MacBackend, TheBacklightReadsAndPinsTheBuiltInPanelOnly)
{
    EXPECT_FALSE(DisplayServicesBacklight("/nonexistent/DisplayServices").functions().getBrightness);
    const Backlight b = DisplayServicesBacklight(nullptr).functions();  // this program, which holds the stand-ins
    float level = -1.0F;
    bool alc = false;
    EXPECT_EQ(std::pair(b.getBrightness(1, &level), b.alcEnabled(1, &alc)), std::pair(0, 0));
    EXPECT_EQ(std::pair(level, alc), std::pair(0.4F, true));
    // The external monitor has no such backlight: the values given are left alone.
    EXPECT_EQ(std::pair(b.getBrightness(2, &level), b.alcEnabled(2, &alc)), std::pair(1, 1));
    EXPECT_EQ(std::pair(level, alc), std::pair(0.4F, true));
    EXPECT_EQ(std::pair(b.setBrightness(1, 0.75F), b.enableALC(1, false)), std::pair(0, 0));
    EXPECT_EQ(mac.backlight[1], std::pair(0.75F, false));
}

TEST_F(MacBackend, DDCTalksOnlyToTheExternalMonitorsService)
{
    IOAVServiceTransport transport;
    const DDC ddc(&transport);
    EXPECT_TRUE(ddc.available());
    const std::vector<DDCService> services = ddc.externalServices();
    ASSERT_EQ(services.size(), 1U);
    EXPECT_EQ(services[0]->connector, "External 1");
    ddc.writeLuminance(services[0], 100);
    EXPECT_EQ(ddc.readLuminance(services[0]), (Luminance {50, 100}));
    const std::vector<std::uint8_t> set {0x84, 0x03, 0x10, 0x00, 0x64, 0xCC}, get {0x82, 0x01, 0x10, 0xAC};
    const auto to = [](const std::vector<std::uint8_t>& bytes) { return std::tuple(2UL, 0x37U, 0x51U, bytes); };
    EXPECT_EQ(mac.transfers, (std::vector {to(set), to(set), to(get), to(get), to({})}));
    mac.i2cReply.clear();
    EXPECT_FALSE(ddc.readLuminance(services[0]));
    EXPECT_EQ(transport.writeI2C(nullptr, 0x37, 0x51, set.data(), 6), -1);  // to and from a service that is gone
    EXPECT_EQ(transport.readI2C(nullptr, 0x37, 0x51, nullptr, 0), -1);
}

TEST_F(MacBackend, AHotKeyPressAndAWakeAreEachDeliveredOnceAfterTheSystemsDispatch)
{
    int presses = 0, wakes = 0;
    {
        CarbonHotKeys hotKeys;
        hotKeys.installHandler({});
        hotKeys.installHandler([&presses] { ++presses; });  // the handler replaced, not installed again
        ASSERT_EQ(mac.hotKeyHandlers.size(), 1U);
        const std::optional<HotKeyService::Ref> ref = hotKeys.registerHotKey(6, 0x1900);  // ⌃⌥⌘Z, passed on as stored
        ASSERT_TRUE(ref);
        EXPECT_EQ(mac.hotKeys.begin()->second, ScriptedMac::Key(6, 0x1900));
        const auto [pressed, userData] = mac.hotKeyHandlers.begin()->second;
        EXPECT_EQ(pressed(nullptr, nullptr, userData), noErr);
        IOKitSleepWatcher watcher;
        watcher.setOnWake([&wakes] { ++wakes; });
        ASSERT_TRUE(mac.power.first && mac.powerOnRunLoop);
        for (const std::uint32_t message : {kIOMessageCanSystemSleep, kIOMessageSystemWillSleep, kIOMessageSystemWillPowerOn,
                 kIOMessageSystemHasPoweredOn})
            mac.power.first(mac.power.second, 0, message, reinterpret_cast<void*>(message & 0xFF));
        EXPECT_EQ(mac.allowed, (std::vector<intptr_t> {0x70, 0x80}));
        EXPECT_EQ(std::pair(presses, wakes), std::pair(0, 0));
        spin(10);
        EXPECT_EQ(std::pair(presses, wakes), std::pair(1, 1));
        EXPECT_EQ(hotKeys.keyCodeOf(6, 0), 6U);  // the recorder's key is the virtual key code
        EXPECT_FALSE(hotKeys.keyCodeOf(0x37, 0));  // kVK_Command: a lone modifier is no key
        mac.takenHotKey = {49, 0x100};
        EXPECT_FALSE(hotKeys.registerHotKey(49, 0x100));
        hotKeys.unregisterHotKey(*ref);
        EXPECT_TRUE(mac.hotKeys.empty());
        EXPECT_TRUE(hotKeys.registerHotKey(0, 0x200));
    }
    EXPECT_TRUE(mac.hotKeys.empty() && mac.hotKeyHandlers.empty() && !mac.power.first && !mac.powerOnRunLoop);
}

TEST_F(MacBackend, RunningApplicationsAreNamedAfterTheirInnermostBundles)
{
    QTemporaryDir root;
    const QString flux = root.filePath(QStringLiteral("Flux.app"));
    ASSERT_TRUE(writeFile(flux + QStringLiteral("/Contents/Info.plist"), "<key>CFBundleIdentifier</key><string>夜光</string>"));
    mac.processes = {
        {101, 501, (flux + QStringLiteral("/Contents/MacOS/Flux")).toStdString()},
        {102, 501, "/opt/homebrew/bin/redshift"},
        {103, 502, "/Applications/Other.app/Contents/MacOS/Other"},  // another user's
        {104, 501, ""},                                               // gone meanwhile
        {105, 501, "/Applications/Ambrano.app/Contents/MacOS/Ambrano"},  // this process
        {106, 501, "/Applications/Gone.app/Contents/MacOS/Gone"},     // bundle removed
        {107, 501, "/A/Slack.app/Contents/Frameworks/Slack Helper.app/Contents/MacOS/Slack Helper"},
        {108, 501, "/A/Flux.app/Contents/Resources/flux-helper"},
        {109, 501, "/tmp/.app/Contents/MacOS/x"},
    };
    QStringList apps;
    for (const RunningApplication& a : LibprocRunningApplications(501, 105).runningApplications())
        apps << a.localizedName.value_or(QStringLiteral("-")) + u' ' + a.bundleIdentifier.value_or(QStringLiteral("-"));
    EXPECT_EQ(apps, (QStringList {"Flux 夜光", "redshift -", "Gone -", "Slack Helper -", "flux-helper -", "x -"}));
}

QByteArray bundleZip(const QByteArray& version, const QString& executable = QStringLiteral("Ambrano"), int mode = 0755)
{
    const QByteArray plist = "<key>CFBundleShortVersionString</key><string>" + version + "</string>";
    return ZipBuilder().file(QStringLiteral("Ambrano.app/Contents/Info.plist"), plist)
        .file(QStringLiteral("Ambrano.app/Contents/MacOS/") + executable, "new " + version, mode).build();
}

TEST_F(MacBackend, TheInstallerStartsNothingForABadBundleAndSwapsAGoodOneInWhateverThePath)
{
    QTemporaryDir root;
    // Blanks, quotes, "$", "$(…)", backquotes and a line break: no path may change the script.
    const QString current = root.filePath(QStringLiteral("my apps 'q' \"d\" $HOME $(touch pwned) `touch pwned`\n/Ambrano.app"));
    ASSERT_TRUE(writeFile(current + QStringLiteral("/Contents/MacOS/Ambrano"), "old"));
    LibArchiveExtractor extractor;
    FakeProcessLauncher launcher;
    QStringList ran;
    MacInstaller installer(extractor, launcher, [&ran](const QString& p, const QStringList& a) { ran << p + u' ' + a.join(u' '); });
    installer.setTemporaryFolder(root.filePath(QStringLiteral("tmp")));
    installer.setRunningPid(999999999);
    installer.setRunningExecutable(root.filePath(QStringLiteral("build/Ambrano")));  // not from a bundle
    EXPECT_FALSE(installer.install(bundleZip("1.4"), QStringLiteral("1.4")));
    installer.setRunningExecutable(current + QStringLiteral("/Contents/MacOS/Ambrano"));
    const std::pair<const char*, QByteArray> refused[] = {
        {"older version inside", bundleZip("1.3")},
        {"no executable of our name", bundleZip("1.4", QStringLiteral("Other"))},
        {"executable not executable", bundleZip("1.4", QStringLiteral("Ambrano"), 0644)},
        {"no Info.plist", ZipBuilder().file(QStringLiteral("Ambrano.app/Contents/MacOS/Ambrano"), "x", 0755).build()},
    };
    for (const auto& [what, zip] : refused)
        EXPECT_FALSE(installer.install(zip, QStringLiteral("1.4"))) << what;
    EXPECT_TRUE(ran.isEmpty() && launcher.calls().isEmpty());
    ASSERT_TRUE(installer.install(bundleZip("1.4"), QStringLiteral("1.4")));
    const QString work = root.filePath(QStringLiteral("tmp/veskupdate-1.4")), script = work + QStringLiteral("/swap.sh");
    EXPECT_EQ(ran, (QStringList {"/usr/bin/xattr -dr com.apple.quarantine " + work + "/Ambrano.app", "/bin/chmod +x " + script}));
    ASSERT_EQ(launcher.calls().size(), 1);
    EXPECT_EQ(launcher.calls()[0].program, QStringLiteral("/bin/bash"));
    EXPECT_EQ(launcher.calls()[0].arguments, (QStringList {script, "999999999", work + "/Ambrano.app", current}));
    // The script itself, run in its folder, with the Mac programs standing in as shell functions.
    const QString stubs = QStringLiteral("cd \"${0%/*}\"; function /usr/bin/ditto { cp -R -- \"$1\" \"$2\"; }; "
        "function /usr/bin/xattr { :; }; function /usr/bin/open { printf %s \"$1\" > opened; }; source \"$0\" \"$@\"");
    QProcess::execute(QStringLiteral("/bin/bash"), QStringList {QStringLiteral("-c"), stubs} + launcher.calls()[0].arguments);
    EXPECT_EQ(readFile(current + QStringLiteral("/Contents/MacOS/Ambrano")), "new 1.4");
    EXPECT_EQ(QString::fromUtf8(readFile(work + QStringLiteral("/opened"))), current);
    EXPECT_EQ(QDir(QFileInfo(current).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList {"Ambrano.app"});
    EXPECT_FALSE(QFile::exists(work + QStringLiteral("/pwned")));
    for (const char* path : {"/A/Ambrano.app/Contents/Other/Ambrano", "/A/Ambrano.app/Other/MacOS/x", "/A/.app/Contents/MacOS/x"})
        EXPECT_FALSE(MacInstaller::bundleForExecutable(QString::fromLatin1(path))) << path;
}

}  // namespace
