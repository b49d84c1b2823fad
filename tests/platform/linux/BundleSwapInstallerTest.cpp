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

namespace {

QByteArray bundleZip(const QString& version = "1.4") { return ZipBuilder().bundle("Ambrano.app", version).build(); }

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
        installer->setTemporaryFolder(root.path() + QStringLiteral("/tmp"));
        installer->setRunningExecutable(bundle + QStringLiteral("/bin/ambrano"));
        installer->setRunningPid(pid);
        return installer;
    }

    QTemporaryDir root;
    // Blanks, quotes, "$", "$(…)" and backquotes: no path may change what the script does.
    const QString apps = root.path() + QStringLiteral("/my apps 'q' \"d\" $HOME $(touch pwned) `touch pwned`");
    const QString bundle = apps + QStringLiteral("/Ambrano.app");
    LibArchiveExtractor extractor;
    FakeProcessLauncher launcher;
};

}  // namespace

TEST_F(BundleSwapInstallerTest, TheSwapWaitsForTheRunningProcessThenStartsTheNewVersion)
{
    // Left next to the installed bundle by an interrupted swap.
    ASSERT_TRUE(writeFile(bundle + QStringLiteral(".new/stale"), "stale") && writeFile(bundle + QStringLiteral(".old/stale"), "stale"));
    QProcess running;
    running.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(running.waitForStarted());
    DetachedProcessLauncher detached;
    ASSERT_TRUE(installer(detached, running.processId())->install(bundleZip(), QStringLiteral("1.4")));
    const QStringList before = appsFolder();
    spin(600);  // while the old process lives, nothing moves
    EXPECT_EQ(installed(), QStringLiteral("1.3.0"));
    EXPECT_EQ(appsFolder(), before);

    running.kill();
    running.waitForFinished();
    EXPECT_TRUE(started("1.4"));
    EXPECT_EQ(installed(), QStringLiteral("1.4"));
    EXPECT_EQ(appsFolder(), (QStringList {"Ambrano.app", "started-1.4"}));
    EXPECT_FALSE(QFileInfo::exists(root.path() + QStringLiteral("/pwned")) || QFileInfo::exists(QStringLiteral("pwned")));
}

TEST_F(BundleSwapInstallerTest, AFailedSwapKeepsAndRestartsTheInstalledVersion)
{
    const QString script = root.path() + QStringLiteral("/swap.sh");
    ASSERT_TRUE(writeFile(script, BundleSwapInstaller::swapScript().toUtf8()));
    ASSERT_TRUE(writeFile(root.path() + QStringLiteral("/broken.app/bin/ambrano"), "not executable"));
    QProcess::execute(QStringLiteral("/bin/bash"), {script, QStringLiteral("999999999"), root.path() + QStringLiteral("/broken.app"), bundle});
    EXPECT_TRUE(started("1.3.0"));
    EXPECT_EQ(installed(), QStringLiteral("1.3.0"));
    EXPECT_EQ(appsFolder(), (QStringList {"Ambrano.app", "started-1.3.0"}));
}

TEST_F(BundleSwapInstallerTest, ABundleThatCannotRunOrIsNotTheAnnouncedVersionIsRefused)
{
    const std::pair<const char*, QByteArray> cases[] = {
        {"bundle one folder down", ZipBuilder().bundle(QStringLiteral("release/Ambrano.app"), QStringLiteral("1.4")).build()},
        {"climbing out", ZipBuilder().bundle(QStringLiteral("Ambrano.app"), QStringLiteral("1.4")).file(QStringLiteral("../escaped"), "e").build()},
        {"program not executable", ZipBuilder().file(QStringLiteral("Ambrano.app/bin/ambrano"), "#!/bin/sh\n", 0644)
            .file(QStringLiteral("Ambrano.app/share/ambrano/version"), "1.4").build()},
        {"older archive replayed as newer", bundleZip(QStringLiteral("1.2"))},
    };
    for (const auto& [what, zip] : cases)
        EXPECT_FALSE(installer(launcher)->install(zip, QStringLiteral("1.4"))) << what;
    EXPECT_FALSE(installer(launcher)->install(bundleZip(QStringLiteral("1.4/../../x")), QStringLiteral("1.4/../../x")));
    EXPECT_FALSE(QFileInfo::exists(root.path() + QStringLiteral("/tmp/escaped")) || QFileInfo::exists(root.path() + QStringLiteral("/x")));
    // Not running from a bundle: updates belong to the package manager.
    auto packaged = installer(launcher);
    packaged->setRunningExecutable(QStringLiteral("/usr/bin/ambrano"));
    EXPECT_FALSE(packaged->install(bundleZip(), QStringLiteral("1.4")));
    EXPECT_TRUE(launcher.calls().isEmpty());
    // A script that cannot be started is a failure too: the app must not quit for nothing.
    launcher.refuse = true;
    EXPECT_FALSE(installer(launcher)->install(bundleZip(), QStringLiteral("1.4")));

    EXPECT_EQ(BundleSwapInstaller::bundleForExecutable(QStringLiteral("/opt/x/../Ambrano.app/bin/./ambrano")), QStringLiteral("/opt/Ambrano.app"));
    for (const char* outside : {"/opt/Ambrano.app/lib/ambrano", "/opt/Ambrano/bin/ambrano", "/.app/bin/ambrano", ""})
        EXPECT_FALSE(BundleSwapInstaller::bundleForExecutable(QString::fromLatin1(outside))) << outside;
}

// Someone else put a link where the work folder goes, pointing at files of ours.
TEST_F(BundleSwapInstallerTest, TheWorkFolderIsFreshAndNeverALink)
{
    const QString work = root.path() + QStringLiteral("/tmp/veskupdate-1.4");
    ASSERT_TRUE(writeFile(root.path() + QStringLiteral("/precious/file"), "keep") && QDir().mkpath(root.path() + QStringLiteral("/tmp")));
    ASSERT_TRUE(QFile::link(root.path() + QStringLiteral("/precious"), work));
    ASSERT_TRUE(installer(launcher)->install(bundleZip(), QStringLiteral("1.4")));
    EXPECT_EQ(readFile(root.path() + QStringLiteral("/precious/file")), "keep");
    EXPECT_FALSE(QFileInfo(work).isSymLink());
    EXPECT_EQ(QFileInfo(work).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther), 0);
    // A second installation of the same version starts from an empty folder.
    ASSERT_TRUE(writeFile(work + QStringLiteral("/left-behind"), "x"));
    ASSERT_TRUE(installer(launcher)->install(bundleZip(), QStringLiteral("1.4")));
    EXPECT_FALSE(QFileInfo::exists(work + QStringLiteral("/left-behind")));
}
