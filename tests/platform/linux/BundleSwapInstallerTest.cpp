// Installation end to end: real zips, real extraction, the real swap script run by bash.
#include "platform/linux/BundleSwapInstaller.h"
#include "platform/linux/DetachedProcessLauncher.h"
#include "platform/linux/LibArchiveExtractor.h"
#include "FakeProcessLauncher.h"
#include "TestFiles.h"
#include "support/TestEnvironment.h"
#include "support/ZipBuilder.h"
#include <gtest/gtest.h>
#include <QProcess>
#include <QTemporaryDir>

static QByteArray bundleZip(const QString& version = "1.4") { return ZipBuilder().bundle("Ambrano.app", version).build(); }

class BundleSwapInstallerTest : public ::testing::Test {
protected:
    // The version now installed records its start like the new one does.
    void SetUp() override
    {
        ASSERT_TRUE(writeFile(root.path() + "/installed.zip", bundleZip("1.3.0")) && QDir().mkpath(apps));
        ASSERT_TRUE(extractor.extract(root.path() + "/installed.zip", apps));
    }
    QString installed() const { return QString::fromUtf8(readFile(BundleSwapInstaller::versionFile(bundle)).trimmed()); }
    QStringList appsFolder() const { return QDir(apps).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }
    bool started(const char* version) const { return waitFor([&] { return QFileInfo::exists(apps + "/started-" + version); }); }
    std::unique_ptr<BundleSwapInstaller> installer(ProcessLauncher& launcher, qint64 pid = 999999)
    {
        auto installer = std::make_unique<BundleSwapInstaller>(extractor, launcher);
        installer->setTemporaryFolder(root.path() + "/tmp");
        installer->setRunningExecutable(bundle + "/bin/ambrano");
        installer->setRunningPid(pid);
        return installer;
    }
    QTemporaryDir root;
    // Blanks, quotes, "$", "$(…)" and backquotes: no path may change what the script does.
    const QString apps = root.path() + "/my apps 'q' \"d\" $HOME $(touch pwned) `touch pwned`";
    const QString bundle = apps + "/Ambrano.app";
    LibArchiveExtractor extractor;
    FakeProcessLauncher launcher;
};

TEST_F(BundleSwapInstallerTest, TheSwapWaitsForTheRunningProcessThenStartsTheNewVersion)
{
    // Left next to the installed bundle by an interrupted swap.
    ASSERT_TRUE(writeFile(bundle + ".new/stale", "stale") && writeFile(bundle + ".old/stale", "stale"));
    QProcess running;
    running.start("sleep", {"60"});
    ASSERT_TRUE(running.waitForStarted());
    DetachedProcessLauncher detached;
    ASSERT_TRUE(installer(detached, running.processId())->install(bundleZip(), "1.4"));
    const QStringList before = appsFolder();
    spin(600);  // while the old process lives, nothing moves
    EXPECT_EQ(installed(), "1.3.0");
    EXPECT_EQ(appsFolder(), before);
    running.kill();
    running.waitForFinished();
    EXPECT_TRUE(started("1.4"));
    EXPECT_EQ(installed(), "1.4");
    EXPECT_EQ(appsFolder(), (QStringList {"Ambrano.app", "started-1.4"}));
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/pwned") || QFileInfo::exists("pwned"));
    // A failed swap (here: a bundle whose program cannot run) keeps and restarts the installed one.
    ASSERT_TRUE(QFile::remove(apps + "/started-1.4") && writeFile(root.path() + "/broken.app/bin/ambrano", "not executable"));
    QProcess::execute("/bin/bash", {root.path() + "/tmp/veskupdate-1.4/swap.sh", "999999999", root.path() + "/broken.app", bundle});
    EXPECT_TRUE(started("1.4"));
    EXPECT_EQ(appsFolder(), (QStringList {"Ambrano.app", "started-1.4"}));
}

TEST_F(BundleSwapInstallerTest, ARefusedBundleStartsNothingAndTheWorkFolderIsNeverALink)
{
    const std::tuple<const char*, QByteArray, const char*> cases[] = {
        {"bundle one folder down", ZipBuilder().bundle("release/Ambrano.app", "1.4").build(), "1.4"},
        {"program not executable", ZipBuilder().file("Ambrano.app/bin/ambrano", "#!/bin/sh\n", 0644).file("Ambrano.app/share/ambrano/version", "1.4").build(), "1.4"},
        {"older archive replayed as newer", bundleZip("1.2"), "1.4"},
        {"version with a path", bundleZip("1.4/../../x"), "1.4/../../x"}};
    for (const auto& [what, zip, version] : cases)
        EXPECT_FALSE(installer(launcher)->install(zip, version)) << what;
    // Not running from a bundle: updates belong to the package manager.
    auto packaged = installer(launcher);
    packaged->setRunningExecutable("/usr/bin/ambrano");
    EXPECT_FALSE(packaged->install(bundleZip(), "1.4"));
    EXPECT_TRUE(launcher.calls().isEmpty());
    // Someone else put a link where the work folder goes, pointing at files of ours: it is
    // replaced, and the folder is fresh each time.
    const QString work = root.path() + "/tmp/veskupdate-1.5";
    ASSERT_TRUE(writeFile(root.path() + "/precious/file", "keep") && QFile::link(root.path() + "/precious", work));
    ASSERT_TRUE(installer(launcher)->install(bundleZip("1.5"), "1.5"));
    EXPECT_EQ(readFile(root.path() + "/precious/file"), "keep");
    EXPECT_EQ(QFileInfo(work).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther), 0);
    ASSERT_TRUE(writeFile(work + "/left-behind", "x"));
    ASSERT_TRUE(installer(launcher)->install(bundleZip("1.5"), "1.5"));
    EXPECT_FALSE(QFileInfo::exists(work + "/left-behind"));
    // A script that cannot be started is a failure too: the app must not quit for nothing.
    launcher.refuse = true;
    EXPECT_FALSE(installer(launcher)->install(bundleZip(), "1.4"));
    EXPECT_EQ(BundleSwapInstaller::bundleForExecutable("/opt/x/../Ambrano.app/bin/./ambrano"), QStringLiteral("/opt/Ambrano.app"));
    for (const char* outside : {"/opt/Ambrano.app/lib/ambrano", "/opt/Ambrano/bin/ambrano", "/.app/bin/ambrano", ""})
        EXPECT_FALSE(BundleSwapInstaller::bundleForExecutable(outside)) << outside;
}
