// Installation end to end: real zips, real extraction, the real swap script run by bash.
#include "UpdateFixture.h"

#include "platform/linux/DetachedProcessLauncher.h"

#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

namespace {

QString installedVersion(const QString& bundle)
{
    return QString::fromUtf8(fileBytes(bundle + QStringLiteral("/share/version")));
}

}  // namespace

class InstallTest : public UpdateFixture {
protected:
    void SetUp() override
    {
        UpdateFixture::SetUp();
        makeInstalledBundle();
    }
    void TearDown() override
    {
        if (standIn_.state() != QProcess::NotRunning) {
            standIn_.kill();
            standIn_.waitForFinished();
        }
    }

    // The version now installed, whose bin/ambrano records its start like the new one does.
    void makeInstalledBundle()
    {
        const QString bundle = installedBundle();
        ASSERT_TRUE(writeFile(bundle + QStringLiteral("/share/version"), "1.3.0"));
        ASSERT_TRUE(writeFile(bundle + QStringLiteral("/bin/ambrano"),
            "#!/bin/sh\necho $$ > \"$(dirname \"$0\")/../../started-1.3.0\"\n"));
        QFile::setPermissions(bundle + QStringLiteral("/bin/ambrano"),
            QFile::permissions(bundle + QStringLiteral("/bin/ambrano")) | QFileDevice::ExeOwner);
    }
    // A process standing in for the running app: the script waits for it.
    qint64 startStandIn()
    {
        standIn_.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        EXPECT_TRUE(standIn_.waitForStarted());
        return standIn_.processId();
    }
    std::unique_ptr<Updater> makeRealUpdater()
    {
        auto updater = makeUpdater(QStringLiteral("unused"));
        updater->setInstallServices(&extractor_, &realLauncher_);
        return updater;
    }
    QByteArray bundleZip(const QString& version = QStringLiteral("1.4")) const
    {
        return ZipBuilder().bundle(QStringLiteral("Ambrano.app"), version).build();
    }

    // Installs with the stand-in alive, checks that nothing moves while it lives, ends it and
    // waits for the swap; returns how long the swap took after the stand-in was gone.
    qint64 installAndSwap()
    {
        auto updater = makeRealUpdater();
        updater->setRunningPid(startStandIn());
        EXPECT_TRUE(updater->install(bundleZip(), QStringLiteral("1.4")));
        EXPECT_EQ(quitRequests_, 1);

        // While the old process lives, neither the installed bundle nor its neighbour moves.
        const QString bundle = installedBundle();
        const QStringList neighbours = QDir(appsFolder_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        const QByteArray leftover = fileBytes(bundle + QStringLiteral(".new/share/version"));
        QElapsedTimer alive;
        alive.start();
        bool still = true;
        while (still && alive.elapsed() < 1000) {
            still = installedVersion(bundle) == QStringLiteral("1.3.0")
                && QDir(appsFolder_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) == neighbours
                && fileBytes(bundle + QStringLiteral(".new/share/version")) == leftover;
            QThread::msleep(20);
        }
        EXPECT_TRUE(still) << "the swap began while the old process was alive";

        standIn_.kill();
        EXPECT_TRUE(standIn_.waitForFinished());
        QElapsedTimer gone;
        gone.start();
        EXPECT_TRUE(waitFor([&bundle] { return installedVersion(bundle) == QStringLiteral("1.4"); }, 3000));
        const qint64 latency = gone.elapsed();
        EXPECT_TRUE(waitFor([this] { return QFileInfo::exists(appsFolder_ + QStringLiteral("/started-1.4")); }, 3000));
        EXPECT_FALSE(QFileInfo::exists(bundle + QStringLiteral(".new")));
        EXPECT_FALSE(QFileInfo::exists(appsFolder_ + QStringLiteral("/started-1.3.0")));
        EXPECT_TRUE(QFileInfo(bundle + QStringLiteral("/bin/ambrano")).isExecutable());
        EXPECT_EQ(QFileInfo(bundle + QStringLiteral("/share/current")).symLinkTarget(),
            bundle + QStringLiteral("/share/version"));
        return latency;
    }

    DetachedProcessLauncher realLauncher_;
    QProcess standIn_;
};

TEST_F(InstallTest, SwapWaitsForTheRunningProcessThenStartsTheNewVersion)
{
    const qint64 latency = installAndSwap();
    std::printf("swap seen %lld ms after the old process ended (poll every 200 ms)\n",
        static_cast<long long>(latency));
}

TEST_F(InstallTest, PathsWithBlanksQuotesAndDollarSigns)
{
    appsFolder_ = root_.path() + QStringLiteral("/my \"apps\" $HOME `touch bq` 'x' \\ $(touch dq)");
    temporary_ = root_.path() + QStringLiteral("/t m p \"$(touch tq)\" `touch tb`");
    QDir().mkpath(temporary_);
    makeInstalledBundle();
    installAndSwap();
    // Nothing in the paths ran as a command.
    for (const char* name : {"bq", "dq", "tq", "tb"}) {
        EXPECT_FALSE(QFileInfo::exists(QString::fromLatin1(name))) << name;
        EXPECT_FALSE(QFileInfo::exists(root_.path() + QLatin1Char('/') + QString::fromLatin1(name))) << name;
    }
}

TEST_F(InstallTest, LeftoverCopyFromAnEarlierAttemptIsReplaced)
{
    // A copy left next to the installed bundle by an interrupted swap.
    ASSERT_TRUE(writeFile(installedBundle() + QStringLiteral(".new/share/version"), "stale"));
    installAndSwap();
    EXPECT_FALSE(QFileInfo::exists(installedBundle() + QStringLiteral("/Ambrano.app")));
    EXPECT_EQ(QDir(installedBundle()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList {QStringLiteral("bin"), QStringLiteral("share")}));
}

TEST_F(InstallTest, FailedCopyKeepsAndRestartsTheInstalledVersion)
{
    const QString script = root_.path() + QStringLiteral("/swap.sh");
    ASSERT_TRUE(writeFile(script, Updater::swapScript().toUtf8()));
    QProcess bash;
    bash.start(QStringLiteral("/bin/bash"),
        {script, QStringLiteral("999999999"), root_.path() + QStringLiteral("/missing.app"), installedBundle()});
    ASSERT_TRUE(bash.waitForFinished(10000));
    EXPECT_EQ(installedVersion(installedBundle()), QStringLiteral("1.3.0"));
    EXPECT_TRUE(waitFor([this] { return QFileInfo::exists(appsFolder_ + QStringLiteral("/started-1.3.0")); }, 3000));
}

TEST_F(InstallTest, SecondInstallationOfTheSameVersionStartsAfresh)
{
    auto updater = makeUpdater(QStringLiteral("unused"));
    ASSERT_TRUE(updater->install(bundleZip(), QStringLiteral("1.4")));
    const QString work = temporary_ + QStringLiteral("/veskupdate-1.4");
    ASSERT_TRUE(writeFile(work + QStringLiteral("/left-behind"), "x"));
    ASSERT_TRUE(writeFile(work + QStringLiteral("/Ambrano.app/share/version"), "edited"));

    const QByteArray second = ZipBuilder().bundle(QStringLiteral("Ambrano.app"), QStringLiteral("1.4")).file(
        QStringLiteral("Ambrano.app/share/extra"), "second").build();
    ASSERT_TRUE(updater->install(second, QStringLiteral("1.4")));
    EXPECT_FALSE(QFileInfo::exists(work + QStringLiteral("/left-behind")));
    EXPECT_EQ(fileBytes(work + QStringLiteral("/Ambrano.app/share/version")), QByteArray("1.4"));
    EXPECT_EQ(fileBytes(work + QStringLiteral("/u.zip")), second);
    EXPECT_EQ(launcher_.calls().size(), 2);
    EXPECT_EQ(quitRequests_, 2);
}

TEST_F(InstallTest, BundleOneFolderDownInstallsNothing)
{
    auto updater = makeUpdater(QStringLiteral("unused"));
    const QByteArray zip = ZipBuilder().bundle(QStringLiteral("release/Ambrano.app"), QStringLiteral("1.4")).build();
    EXPECT_FALSE(updater->install(zip, QStringLiteral("1.4")));
    const QString work = temporary_ + QStringLiteral("/veskupdate-1.4");
    EXPECT_TRUE(QFileInfo::exists(work + QStringLiteral("/release/Ambrano.app/share/version")));
    EXPECT_FALSE(QFileInfo::exists(work + QStringLiteral("/swap.sh")));
    EXPECT_TRUE(launcher_.calls().isEmpty());
    EXPECT_EQ(quitRequests_, 0);
    EXPECT_EQ(installedVersion(installedBundle()), QStringLiteral("1.3.0"));
}

TEST_F(InstallTest, ArchiveClimbingOutIsRefusedWhole)
{
    auto updater = makeUpdater(QStringLiteral("unused"));
    const QByteArray zip = ZipBuilder()
                               .bundle(QStringLiteral("Ambrano.app"), QStringLiteral("1.4"))
                               .file(QStringLiteral("../escaped"), "out")
                               .file(QStringLiteral("Ambrano.app/../../escaped2"), "out")
                               .build();
    EXPECT_FALSE(updater->install(zip, QStringLiteral("1.4")));
    EXPECT_FALSE(QFileInfo::exists(temporary_ + QStringLiteral("/escaped")));
    EXPECT_FALSE(QFileInfo::exists(root_.path() + QStringLiteral("/escaped2")));
    EXPECT_EQ(temporaryEntries(), QStringList {QStringLiteral("veskupdate-1.4")});
    EXPECT_EQ(QDir(temporary_ + QStringLiteral("/veskupdate-1.4")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList {QStringLiteral("u.zip")});
    EXPECT_TRUE(launcher_.calls().isEmpty());
    EXPECT_EQ(quitRequests_, 0);
}

TEST_F(InstallTest, NotRunningFromABundleTouchesNothing)
{
    auto updater = makeUpdater(QStringLiteral("unused"));
    for (const QString& exe : {QStringLiteral("/usr/bin/ambrano"), QStringLiteral("/opt/Ambrano.app/ambrano"),
             installedBundle() + QStringLiteral("/lib/ambrano")}) {
        updater->setRunningExecutable(exe);
        EXPECT_FALSE(updater->install(bundleZip(), QStringLiteral("1.4"))) << exe.toStdString();
    }
    EXPECT_TRUE(temporaryEntries().isEmpty());
    EXPECT_TRUE(launcher_.calls().isEmpty());
    EXPECT_EQ(quitRequests_, 0);
    EXPECT_EQ(Updater::bundleForExecutable(QStringLiteral("/opt/Ambrano.app/bin/ambrano")),
        QStringLiteral("/opt/Ambrano.app"));
}

TEST_F(InstallTest, VersionMustBeAPlainName)
{
    ASSERT_TRUE(writeFile(root_.path() + QStringLiteral("/precious/file"), "keep"));
    auto updater = makeUpdater(QStringLiteral("unused"));
    EXPECT_FALSE(updater->install(bundleZip(), QStringLiteral("/../../precious")));
    EXPECT_FALSE(updater->install(bundleZip(), QStringLiteral("1.4/../../../precious")));
    EXPECT_EQ(fileBytes(root_.path() + QStringLiteral("/precious/file")), QByteArray("keep"));
    EXPECT_TRUE(temporaryEntries().isEmpty());
    EXPECT_TRUE(launcher_.calls().isEmpty());
}

TEST_F(InstallTest, LinkInPlaceOfTheWorkFolderIsNotFollowed)
{
    // Someone else put a link where the work folder goes, pointing at files of ours.
    ASSERT_TRUE(writeFile(root_.path() + QStringLiteral("/precious/file"), "keep"));
    const QString work = temporary_ + QStringLiteral("/veskupdate-1.4");
    ASSERT_TRUE(QFile::link(root_.path() + QStringLiteral("/precious"), work));
    auto updater = makeUpdater(QStringLiteral("unused"));
    EXPECT_TRUE(updater->install(bundleZip(), QStringLiteral("1.4")));
    EXPECT_EQ(fileBytes(root_.path() + QStringLiteral("/precious/file")), QByteArray("keep"));
    EXPECT_FALSE(QFileInfo(work).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(work + QStringLiteral("/Ambrano.app/bin/ambrano")));
    EXPECT_FALSE(QFileInfo::exists(root_.path() + QStringLiteral("/precious/u.zip")));
}
