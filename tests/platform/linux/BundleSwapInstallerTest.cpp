// Installation end to end: real zips, real extraction, the real swap script run by bash.
#include "platform/linux/BundleSwapInstaller.h"
#include "platform/linux/DetachedProcessLauncher.h"
#include "platform/linux/LibArchiveExtractor.h"

#include "FakeProcessLauncher.h"
#include "support/TestEnvironment.h"
#include "support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return !executable || QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
}

QString installedVersion(const QString& bundle)
{
    return QString::fromUtf8(fileBytes(BundleSwapInstaller::versionFile(bundle))).trimmed();
}

QByteArray bundleZip(const QString& version = QStringLiteral("1.4"))
{
    return ZipBuilder().bundle(QStringLiteral("Ambrano.app"), version).build();
}

class BundleSwapInstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        temporary_ = root_.path() + QStringLiteral("/tmp");
        // Blanks, quotes, "$", "$(…)" and backquotes: no path may change what the script does.
        apps_ = root_.path() + QStringLiteral("/my apps 'q' \"d\" $HOME $(touch pwned) `touch pwned`");
        // The version now installed, whose bin/ambrano records its start like the new one does.
        ASSERT_TRUE(writeFile(BundleSwapInstaller::versionFile(bundle()), "1.3.0\n"));
        ASSERT_TRUE(writeFile(bundle() + QStringLiteral("/bin/ambrano"),
            "#!/bin/sh\necho $$ > \"$(dirname \"$0\")/../../started-1.3.0\"\n", true));
    }
    void TearDown() override
    {
        if (standIn_.state() != QProcess::NotRunning) {
            standIn_.kill();
            standIn_.waitForFinished();
        }
    }
    QString bundle() const { return apps_ + QStringLiteral("/Ambrano.app"); }
    QString work() const { return temporary_ + QStringLiteral("/veskupdate-1.4"); }
    bool started(const QString& version) const { return QFileInfo::exists(apps_ + QStringLiteral("/started-") + version); }
    std::unique_ptr<BundleSwapInstaller> makeInstaller(ProcessLauncher& launcher)
    {
        auto installer = std::make_unique<BundleSwapInstaller>(extractor_, launcher);
        installer->setTemporaryFolder(temporary_);
        installer->setRunningExecutable(bundle() + QStringLiteral("/bin/ambrano"));
        installer->setRunningPid(999999);
        return installer;
    }
    // Runs the swap script by hand, as the installer would start it.
    void runScript(const QString& newBundle)
    {
        const QString script = root_.path() + QStringLiteral("/swap.sh");
        ASSERT_TRUE(writeFile(script, BundleSwapInstaller::swapScript().toUtf8()));
        QProcess bash;
        bash.start(QStringLiteral("/bin/bash"), {script, QStringLiteral("999999999"), newBundle, bundle()});
        ASSERT_TRUE(bash.waitForFinished(10000));
    }

    QTemporaryDir root_;
    QString temporary_;
    QString apps_;
    LibArchiveExtractor extractor_;
    FakeProcessLauncher fakeLauncher_;
    QProcess standIn_;
};

}  // namespace

TEST_F(BundleSwapInstallerTest, SwapWaitsForTheRunningProcessThenStartsTheNewVersion)
{
    // Left next to the installed bundle by an interrupted swap.
    ASSERT_TRUE(writeFile(bundle() + QStringLiteral(".new/stale"), "stale"));
    ASSERT_TRUE(writeFile(bundle() + QStringLiteral(".old/stale"), "stale"));
    standIn_.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(standIn_.waitForStarted());
    DetachedProcessLauncher launcher;
    auto installer = makeInstaller(launcher);
    installer->setRunningPid(standIn_.processId());
    ASSERT_TRUE(installer->install(bundleZip(), QStringLiteral("1.4")));

    // While the old process lives, nothing moves.
    const QStringList before = QDir(apps_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QElapsedTimer alive;
    alive.start();
    while (alive.elapsed() < 600) {
        ASSERT_EQ(installedVersion(bundle()), QStringLiteral("1.3.0"));
        ASSERT_EQ(QDir(apps_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QThread::msleep(20);
    }

    standIn_.kill();
    ASSERT_TRUE(standIn_.waitForFinished());
    EXPECT_TRUE(waitFor([this] { return started(QStringLiteral("1.4")); }, 5000));
    EXPECT_EQ(installedVersion(bundle()), QStringLiteral("1.4"));
    EXPECT_TRUE(QFileInfo(bundle() + QStringLiteral("/bin/ambrano")).isExecutable());
    EXPECT_EQ(QDir(apps_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList {QStringLiteral("Ambrano.app"), QStringLiteral("started-1.4")}));
    EXPECT_FALSE(QFileInfo::exists(root_.path() + QStringLiteral("/pwned")));
    EXPECT_FALSE(QFileInfo::exists(QDir::currentPath() + QStringLiteral("/pwned")));
}

TEST_F(BundleSwapInstallerTest, AFailedSwapKeepsAndRestartsTheInstalledVersion)
{
    // Nothing to copy, and a bundle whose program cannot run: the installed one stays.
    ASSERT_TRUE(writeFile(root_.path() + QStringLiteral("/broken.app/bin/ambrano"), "not executable"));
    for (const QString& newBundle : {root_.path() + QStringLiteral("/missing.app"), root_.path() + QStringLiteral("/broken.app")}) {
        QFile::remove(apps_ + QStringLiteral("/started-1.3.0"));
        runScript(newBundle);
        EXPECT_EQ(installedVersion(bundle()), QStringLiteral("1.3.0")) << newBundle.toStdString();
        EXPECT_TRUE(waitFor([this] { return started(QStringLiteral("1.3.0")); }, 5000)) << newBundle.toStdString();
        EXPECT_EQ(QDir(apps_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            (QStringList {QStringLiteral("Ambrano.app"), QStringLiteral("started-1.3.0")}));
    }
}

TEST_F(BundleSwapInstallerTest, ABundleThatCannotRunOrIsNotTheAnnouncedVersionIsRefused)
{
    const struct {
        const char* what;
        QByteArray zip;
        QString version;
    } cases[] = {
        {"bundle one folder down", ZipBuilder().bundle(QStringLiteral("release/Ambrano.app"), QStringLiteral("1.4")).build(), QStringLiteral("1.4")},
        {"climbing out", ZipBuilder().bundle(QStringLiteral("Ambrano.app"), QStringLiteral("1.4")).file(QStringLiteral("../escaped"), "e").build(), QStringLiteral("1.4")},
        {"no program", ZipBuilder().file(QStringLiteral("Ambrano.app/share/ambrano/version"), "1.4").build(), QStringLiteral("1.4")},
        {"program not executable", ZipBuilder().file(QStringLiteral("Ambrano.app/bin/ambrano"), "#!/bin/sh\n", 0644)
            .file(QStringLiteral("Ambrano.app/share/ambrano/version"), "1.4").build(), QStringLiteral("1.4")},
        {"older archive replayed as newer", bundleZip(QStringLiteral("1.2")), QStringLiteral("1.4")},
        {"no version inside", ZipBuilder().file(QStringLiteral("Ambrano.app/bin/ambrano"), "#!/bin/sh\n", 0755).build(), QStringLiteral("1.4")},
        {"version names a path", bundleZip(QStringLiteral("1.4/../../x")), QStringLiteral("1.4/../../x")},
    };
    for (const auto& c : cases) {
        auto installer = makeInstaller(fakeLauncher_);
        EXPECT_FALSE(installer->install(c.zip, c.version)) << c.what;
        EXPECT_FALSE(QFileInfo::exists(work() + QStringLiteral("/swap.sh"))) << c.what;
        EXPECT_FALSE(QFileInfo::exists(temporary_ + QStringLiteral("/escaped"))) << c.what;
        EXPECT_FALSE(QFileInfo::exists(root_.path() + QStringLiteral("/x"))) << c.what;
    }
    // Not running from a bundle: updates belong to the package manager.
    for (const QString& exe : {QStringLiteral("/usr/bin/ambrano"), QStringLiteral("/opt/Ambrano.app/ambrano"),
             bundle() + QStringLiteral("/lib/ambrano")}) {
        auto installer = makeInstaller(fakeLauncher_);
        installer->setRunningExecutable(exe);
        EXPECT_FALSE(installer->install(bundleZip(), QStringLiteral("1.4"))) << exe.toStdString();
    }
    EXPECT_TRUE(fakeLauncher_.calls().isEmpty());
    EXPECT_EQ(installedVersion(bundle()), QStringLiteral("1.3.0"));

    // A script that cannot be started is a failure too: the app must not quit for nothing.
    fakeLauncher_.refuse = true;
    EXPECT_FALSE(makeInstaller(fakeLauncher_)->install(bundleZip(), QStringLiteral("1.4")));
}

TEST_F(BundleSwapInstallerTest, TheWorkFolderIsFreshAndNeverALink)
{
    // Someone else put a link where the work folder goes, pointing at files of ours.
    ASSERT_TRUE(writeFile(root_.path() + QStringLiteral("/precious/file"), "keep"));
    QDir().mkpath(temporary_);
    ASSERT_TRUE(QFile::link(root_.path() + QStringLiteral("/precious"), work()));
    auto installer = makeInstaller(fakeLauncher_);
    ASSERT_TRUE(installer->install(bundleZip(), QStringLiteral("1.4")));
    EXPECT_EQ(QDir(root_.path() + QStringLiteral("/precious")).entryList(QDir::Files), QStringList {QStringLiteral("file")});
    EXPECT_FALSE(QFileInfo(work()).isSymLink());
    EXPECT_EQ(QFileInfo(work()).permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther), 0);

    // A second installation of the same version starts from an empty folder.
    ASSERT_TRUE(writeFile(work() + QStringLiteral("/left-behind"), "x"));
    ASSERT_TRUE(installer->install(bundleZip(), QStringLiteral("1.4")));
    EXPECT_FALSE(QFileInfo::exists(work() + QStringLiteral("/left-behind")));
    const QList<FakeProcessLauncher::Call> calls = fakeLauncher_.calls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[1].arguments,
        (QStringList {work() + QStringLiteral("/swap.sh"), QStringLiteral("999999"), work() + QStringLiteral("/Ambrano.app"), bundle()}));
}
