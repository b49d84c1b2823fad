#include "platform/linux/ProcRunningApplications.h"
#include "TestFiles.h"
#include <gtest/gtest.h>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>

constexpr std::uint32_t me = 1000;
constexpr std::int64_t self = 4242;

// One process of a fake /proc tree: the files the listing reads, as the kernel writes them
// (the command line and environment NUL-separated where the test has blanks).
struct Process {
    QByteArray comm {}, cmdline {};
    std::uint32_t uid = me;
    char state = 'S';
    const char* exe = "";
    QByteArray environ {}, flatpakInfo {};
};

static void add(const QTemporaryDir& proc, std::int64_t pid, const Process& p)
{
    const QString d = proc.path() + u'/' + QString::number(pid) + u'/';
    const QByteArray uid = QByteArray::number(p.uid);
    const std::pair<const char*, QByteArray> files[] = {
        {"status", "Name:\t" + p.comm + "\nState:\t" + p.state + " (sleeping)\nUid:\t" + uid + '\t' + uid + "\t0\t0\n"},
        {"comm", p.comm + '\n'}, {"cmdline", p.cmdline.isEmpty() ? QByteArray() : QByteArray(p.cmdline + ' ').replace(' ', '\0')},
        {"environ", QByteArray(p.environ).replace(' ', '\0')}, {"root/.flatpak-info", p.flatpakInfo}};
    for (const auto& [name, text] : files)
        ASSERT_TRUE(writeFile(d + QLatin1String(name), text));
    if (*p.exe)
        QFile::link(QString::fromLatin1(p.exe), d + QStringLiteral("exe"));
}

TEST(ProcRunningApplications, ThisUsersLiveProgramsInPidOrderWithTheirFlatpakIds)
{
    QTemporaryDir proc;
    add(proc, 100, {"redshift", "/usr/bin/redshift -l 41:2"});
    add(proc, 7, {"bash", "-bash"});
    add(proc, 101, {"iris", "iris", 1001});       // another user
    add(proc, 102, {"kworker/0:1"});              // kernel thread: no command line
    add(proc, 103, {"lunar", "lunar", me, 'Z'});  // zombie
    add(proc, self, {"redshift", "redshift"});    // this program
    add(proc, 105, {"gone", "gone"});
    QFile::remove(proc.path() + QStringLiteral("/105/status"));  // ended while being read
    // The id is the [Application] section's name; the environment's only without one.
    add(proc, 10, {.comm = "lunar-bin", .cmdline = "/app/bin/lunar-bin", .environ = "FLATPAK_ID=ignored.because.Info",
                     .flatpakInfo = "[Runtime]\r\nname=org.kde.Platform\r\n[Application]\r\nruntime=x\r\nname=fyi.Lunar.App \r\n"});
    add(proc, 11, {.comm = "helper", .cmdline = "helper", .environ = "PATH=/bin FLATPAK_ID=com.herf.Flux X=1"});
    add(proc, 12, {.comm = "plain", .cmdline = "plain", .environ = "FLATPAK_ID=", .flatpakInfo = "name=stray\n[Application]\nname=\n"});
    // Names the kernel cut at 15 bytes are completed from the executable or the first argument.
    add(proc, 20, {"redshift-schedu", "redshift-scheduler", me, 'S', "/usr/bin/redshift-scheduler"});
    add(proc, 21, {"night-light-con", "/opt/night-light-control --x", me, 'S', "/usr/bin/python3.11"});  // a script
    add(proc, 23, {"gammy-with-a-lo", "x", me, 'S', "/usr/bin/gammy-with-a-long-name (deleted)"});     // replaced
    QStringList listed;
    for (const RunningApplication& a : ProcRunningApplications(proc.path(), me, self).runningApplications())
        listed << a.localizedName.value_or(QStringLiteral("-")) + u' ' + a.bundleIdentifier.value_or(QStringLiteral("-"));
    EXPECT_EQ(listed, (QStringList {"bash -", "lunar-bin fyi.Lunar.App", "helper com.herf.Flux", "plain -", "redshift-scheduler -",
                               "night-light-control -", "gammy-with-a-long-name -", "redshift -"}));
    // The real list has our child by its full name. Leaving ourselves out is checked on the fake
    // tree only: here another run of this program could trip it.
    const QString program = proc.path() + QStringLiteral("/ambrano-probe-long-name");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), program));
    QProcess child;
    child.start(program, {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted(5000));
    const std::vector<RunningApplication> apps = ProcRunningApplications().runningApplications();
    EXPECT_TRUE(std::ranges::any_of(apps, [](const auto& a) { return a.localizedName == QStringLiteral("ambrano-probe-long-name"); }));
    child.kill();
    child.waitForFinished();
}
