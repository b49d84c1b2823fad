#include "system/ConflictDetector.h"

#include "platform/linux/ProcRunningApplications.h"

#include "FakeRunningApplications.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <optional>

#include <unistd.h>

namespace {

RunningApplication named(const char* name)
{
    return {QString::fromUtf8(name), std::nullopt};
}

RunningApplication withId(const char* id)
{
    return {std::nullopt, QString::fromUtf8(id)};
}

RunningApplication app(const char* name, const char* id)
{
    return {QString::fromUtf8(name), QString::fromUtf8(id)};
}

std::optional<QString> conflictAmong(std::vector<RunningApplication> list)
{
    return ConflictDetector::conflicting(list);
}

const std::optional<QString> none;

}  // namespace

TEST(ConflictDetector, FluxByExactNameInAnyCase)
{
    for (const char* name : {"flux", "Flux", "FLUX", "fLuX"})
        EXPECT_EQ(conflictAmong({named(name)}), QStringLiteral("f.lux")) << name;
    EXPECT_EQ(conflictAmong({named("Fluxion")}), none);
    EXPECT_EQ(conflictAmong({named("flux ")}), none);
    EXPECT_EQ(conflictAmong({named("influx")}), none);
}

TEST(ConflictDetector, FluxByNameContainingDottedName)
{
    EXPECT_EQ(conflictAmong({named("f.lux Beta")}), QStringLiteral("f.lux"));
    EXPECT_EQ(conflictAmong({named("My F.LUX helper")}), QStringLiteral("f.lux"));
}

TEST(ConflictDetector, FluxByIdentifierWhateverTheName)
{
    EXPECT_EQ(conflictAmong({app("Whatever", "org.HERF.Flux")}), QStringLiteral("f.lux"));
    EXPECT_EQ(conflictAmong({withId("com.herf.flux.helper")}), QStringLiteral("f.lux"));
    EXPECT_EQ(conflictAmong({withId("com.herf.fluxion")}), QStringLiteral("f.lux"));
}

TEST(ConflictDetector, IrisAndLunarByNameOrIdentifier)
{
    EXPECT_EQ(conflictAmong({named("Iris")}), QStringLiteral("Iris"));
    EXPECT_EQ(conflictAmong({named("iris-mini")}), QStringLiteral("Iris"));
    EXPECT_EQ(conflictAmong({withId("com.IRISTECH.app")}), QStringLiteral("Iris"));
    EXPECT_EQ(conflictAmong({named("Lunar")}), QStringLiteral("Lunar"));
    EXPECT_EQ(conflictAmong({withId("fyi.lunar.Lunar")}), QStringLiteral("Lunar"));
}

TEST(ConflictDetector, GammyAndRedshiftByNameOnly)
{
    EXPECT_EQ(conflictAmong({named("Gammy")}), QStringLiteral("Gammy"));
    EXPECT_EQ(conflictAmong({named("Redshift")}), QStringLiteral("Redshift"));
    EXPECT_EQ(conflictAmong({named("redshift-gtk")}), QStringLiteral("Redshift"));
    EXPECT_EQ(conflictAmong({withId("org.redshift.Redshift")}), none);
    EXPECT_EQ(conflictAmong({withId("io.github.gammy")}), none);
    EXPECT_EQ(conflictAmong({app("helper", "io.github.gammy.redshift")}), none);
}

TEST(ConflictDetector, NothingToTestMatchesNothing)
{
    EXPECT_EQ(conflictAmong({}), none);
    EXPECT_EQ(conflictAmong({RunningApplication{}}), none);
    EXPECT_EQ(conflictAmong({app("", "")}), none);
    EXPECT_EQ(conflictAmong({named("ambrano"), named("Xorg"), named("gammastep"), app("bash", "org.gnome.Terminal")}), none);
}

TEST(ConflictDetector, EarlierRuleWinsWithinOneApplication)
{
    EXPECT_EQ(conflictAmong({named("iris lunar")}), QStringLiteral("Iris"));
    EXPECT_EQ(conflictAmong({named("lunar iris")}), QStringLiteral("Iris"));
    EXPECT_EQ(conflictAmong({named("gammy redshift")}), QStringLiteral("Gammy"));
    // The f.lux identifier rule comes before the Iris and Lunar name rules.
    EXPECT_EQ(conflictAmong({app("Lunar", "com.herf.flux")}), QStringLiteral("f.lux"));
    // The Iris identifier rule comes before the Lunar name rule.
    EXPECT_EQ(conflictAmong({app("Lunar", "iris")}), QStringLiteral("Iris"));
    // The Lunar identifier rule comes before the Gammy name rule.
    EXPECT_EQ(conflictAmong({app("gammy", "lunar")}), QStringLiteral("Lunar"));
}

TEST(ConflictDetector, FirstApplicationInTheSystemsOrderDecides)
{
    EXPECT_EQ(conflictAmong({named("Flux"), named("Lunar")}), QStringLiteral("f.lux"));
    EXPECT_EQ(conflictAmong({named("Lunar"), named("Flux")}), QStringLiteral("Lunar"));
    EXPECT_EQ(conflictAmong({named("bash"), named("redshift"), named("iris")}), QStringLiteral("Redshift"));
}

TEST(ConflictDetector, AsksItsSourceEachTime)
{
    FakeRunningApplications fake;
    ConflictDetector::setRunningApplications(&fake);
    EXPECT_EQ(ConflictDetector::conflicting(), none);
    fake.applications = {named("bash"), named("gammy")};
    EXPECT_EQ(ConflictDetector::conflicting(), QStringLiteral("Gammy"));
    fake.applications.pop_back();
    EXPECT_EQ(ConflictDetector::conflicting(), none);
    EXPECT_EQ(fake.reads, 3);
    ConflictDetector::setRunningApplications(nullptr);
    EXPECT_EQ(ConflictDetector::conflicting(), none);
}

// Against the processes that really run.

namespace {

class RealProcesses : public ::testing::Test {
protected:
    void SetUp() override
    {
        ConflictDetector::setRunningApplications(&proc);
        if (ConflictDetector::conflicting())
            GTEST_SKIP() << "a conflicting program already runs here: " << ConflictDetector::conflicting()->toStdString();
    }
    void TearDown() override
    {
        if (child.state() != QProcess::NotRunning) {
            child.kill();
            child.waitForFinished(5000);
        }
        ConflictDetector::setRunningApplications(nullptr);
    }
    // A harmless program under another name.
    QString copyOfSleep(const QString& name)
    {
        const QString path = dir.path() + u'/' + name;
        EXPECT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), path));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        return path;
    }

    ProcRunningApplications proc;
    QTemporaryDir dir;
    QProcess child;
};

}  // namespace

TEST_F(RealProcesses, ARunningRedshiftIsSeenUntilItEnds)
{
    child.start(copyOfSleep(QStringLiteral("redshift")), {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted(5000));
    EXPECT_TRUE(waitFor([] { return ConflictDetector::conflicting() == QStringLiteral("Redshift"); }, 5000));

    child.kill();
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(ConflictDetector::conflicting(), std::nullopt);
}

TEST_F(RealProcesses, AFlatpakIdentifierInTheEnvironmentCounts)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FLATPAK_ID"), QStringLiteral("fyi.Lunar.App"));
    child.setProcessEnvironment(env);
    child.start(copyOfSleep(QStringLiteral("helper")), {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted(5000));
    EXPECT_TRUE(waitFor([] { return ConflictDetector::conflicting() == QStringLiteral("Lunar"); }, 5000));

    child.kill();
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(ConflictDetector::conflicting(), std::nullopt);
}

TEST_F(RealProcesses, AnotherUsersProcessDoesNotCount)
{
    if (getuid() != 0)
        GTEST_SKIP() << "starting a process as another user needs root";
    const QString program = copyOfSleep(QStringLiteral("redshift"));
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ExeOther);
    child.start(QStringLiteral("setpriv"),
        {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"), program, QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted(5000));
    // Wait until the program itself runs (setpriv executes it in place).
    const QString comm = QStringLiteral("/proc/%1/comm").arg(child.processId());
    ASSERT_TRUE(waitFor([&] {
        QFile f(comm);
        return f.open(QIODevice::ReadOnly) && f.readAll().trimmed() == "redshift";
    }, 5000)) << child.readAllStandardError().toStdString();
    EXPECT_EQ(ConflictDetector::conflicting(), std::nullopt);
}
