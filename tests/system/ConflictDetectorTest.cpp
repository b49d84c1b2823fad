#include "system/ConflictDetector.h"

#include "platform/linux/ProcRunningApplications.h"

#include "FakeRunningApplications.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
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

struct Case {
    RunningApplication app;
    const char* shown;  // null: not reported
};

// Every rule, in order, with what it must and must not take: the first nine by any attribute,
const std::vector<Case> cases = {
    {named("flux"), "f.lux"},
    {named("fLuX"), "f.lux"},
    {named("Fluxion"), nullptr},
    {named("flux "), nullptr},
    {named("influx"), nullptr},
    {named("f.lux Beta"), "f.lux"},
    {named("My F.LUX helper"), "f.lux"},
    {app("Whatever", "org.HERF.Flux"), "f.lux"},
    {withId("com.herf.fluxion"), "f.lux"},
    {named("Iris"), "Iris"},
    {named("iris-mini"), "Iris"},
    {withId("com.IRISTECH.app"), "Iris"},
    {named("Lunar"), "Lunar"},
    {withId("fyi.lunar.Lunar"), "Lunar"},
    {named("Gammy"), "Gammy"},
    {withId("io.github.gammy"), nullptr},
    {named("Redshift"), "Redshift"},
    {withId("org.redshift.Redshift"), nullptr},
    {RunningApplication{}, nullptr},
    {app("", ""), nullptr},
    {app("bash", "org.gnome.Terminal"), nullptr},
};

// and those of the Linux peers, by process name, with names that merely contain a rule's text.
const std::vector<Case> processes = {
    {named("redshift-gtk"), "Redshift"},
    {named("redshift-qt"), "Redshift"},
    {named("osiris"), nullptr},
    {named("lunarclient"), nullptr},
    {named("gammastep"), "Gammastep"},
    {named("gammastep-indicator"), "Gammastep"},
    {named("wlsunset"), "wlsunset"},
    {named("xsct"), "xsct"},
    {named("sct"), "sct"},
    {named("sctd"), nullptr},
    {named("hyprsunset"), "hyprsunset"},
    {named("wl-gammarelay"), "wl-gammarelay"},
    {named("wl-gammarelay-rs"), "wl-gammarelay-rs"},
    {named("clight"), "Clight"},
    {named("clightd"), nullptr},
};

std::optional<QString> expected(const Case& c)
{
    return c.shown ? std::optional<QString>(QString::fromUtf8(c.shown)) : std::nullopt;
}

std::string describe(const RunningApplication& a)
{
    return a.localizedName.value_or(QStringLiteral("-")).toStdString() + " / " + a.bundleIdentifier.value_or(QStringLiteral("-")).toStdString();
}

}  // namespace

TEST(ConflictDetector, EachRuleTakesWhatItNamesAndNothingThatMerelyContainsIt)
{
    for (const auto* table : {&cases, &processes}) {
        for (const Case& c : *table)
            EXPECT_EQ(conflictAmong({c.app}), expected(c)) << describe(c.app);
    }
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

    bool listed(const QString& name)
    {
        const auto apps = proc.runningApplications();
        return std::any_of(apps.begin(), apps.end(), [&](const RunningApplication& a) { return a.localizedName == name; });
    }

    ProcRunningApplications proc;
    QTemporaryDir dir;
    QProcess child;
};

}  // namespace

TEST_F(RealProcesses, EachNameIsSeenWhileAProgramRunsUnderIt)
{
    for (const Case& c : processes) {
        const QString name = *c.app.localizedName;
        child.start(copyOfSleep(name), {QStringLiteral("30")});
        ASSERT_TRUE(child.waitForStarted(5000)) << name.toStdString();
        // Listed under its own name first, so that "not reported" means something.
        EXPECT_TRUE(waitFor([&] { return listed(name); }, 5000)) << name.toStdString();
        EXPECT_EQ(ConflictDetector::conflicting(), expected(c)) << name.toStdString();
        child.kill();
        ASSERT_TRUE(child.waitForFinished(5000));
        EXPECT_EQ(ConflictDetector::conflicting(), none) << name.toStdString();
    }

    // gammastep-indicator is a script: the kernel keeps 15 bytes of its name and the
    // executable is the interpreter.
    const QString script = dir.path() + QStringLiteral("/gammastep-indicator");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nread line\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    child.start(script, {});
    ASSERT_TRUE(child.waitForStarted(5000));
    EXPECT_TRUE(waitFor([] { return ConflictDetector::conflicting() == QStringLiteral("Gammastep"); }, 5000));
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
