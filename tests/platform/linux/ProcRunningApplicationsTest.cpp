#include "platform/linux/ProcRunningApplications.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

namespace {

constexpr std::uint32_t me = 1000;
constexpr std::int64_t self = 4242;

// A /proc tree in a temporary folder: the files the listing reads, as the kernel writes them
// (the command line and environment NUL-separated where the test has blanks).
struct FakeProc {
    struct Process {
        QByteArray comm {};
        QByteArray cmdline {};
        std::uint32_t uid = me;
        char state = 'S';
        const char* exe = "";
        QByteArray environ {};
        QByteArray flatpakInfo {};
        bool status = true;  // false: the process ended while being read
    };
    QTemporaryDir dir;

    void add(std::int64_t pid, const Process& p)
    {
        const QString d = dir.path() + u'/' + QString::number(pid);
        QDir().mkpath(d + QStringLiteral("/root"));
        const QByteArray uid = QByteArray::number(p.uid);
        if (p.status)
            write(d + QStringLiteral("/status"), "Name:\t" + p.comm + "\nState:\t" + p.state + " (sleeping)\nUid:\t" + uid + '\t' + uid + "\t0\t0\n");
        write(d + QStringLiteral("/comm"), p.comm + '\n');
        write(d + QStringLiteral("/cmdline"), p.cmdline.isEmpty() ? QByteArray() : QByteArray(p.cmdline + ' ').replace(' ', '\0'));
        write(d + QStringLiteral("/environ"), QByteArray(p.environ).replace(' ', '\0'));
        if (!p.flatpakInfo.isEmpty())
            write(d + QStringLiteral("/root/.flatpak-info"), p.flatpakInfo);
        if (*p.exe)
            QFile::link(QString::fromLatin1(p.exe), d + QStringLiteral("/exe"));
    }
    static void write(const QString& path, const QByteArray& data) { ASSERT_TRUE(writeFile(path, data)); }
    QStringList list() const
    {
        QStringList out;
        for (const RunningApplication& a : ProcRunningApplications(dir.path(), me, self).runningApplications())
            out << a.localizedName.value_or(QStringLiteral("-")) + u' ' + a.bundleIdentifier.value_or(QStringLiteral("-"));
        return out;
    }
};

}  // namespace

TEST(ProcRunningApplications, ThisUsersLiveProgramsInPidOrderWithTheirFlatpakIds)
{
    FakeProc proc;
    proc.add(100, {"redshift", "/usr/bin/redshift -l 41:2"});
    proc.add(7, {"bash", "-bash"});
    proc.add(1999, {"gammy", "python3 /usr/bin/gammy"});
    proc.add(101, {"iris", "iris", 1001});       // another user
    proc.add(102, {"kworker/0:1"});              // kernel thread: no command line
    proc.add(103, {"lunar", "lunar", me, 'Z'});  // zombie
    proc.add(104, {"flux", "flux", me, 'X'});    // dead
    proc.add(self, {"redshift", "redshift"});    // this program
    proc.add(105, {.comm = "gone", .cmdline = "gone", .status = false});
    proc.add(10, {.comm = "lunar-bin", .cmdline = "/app/bin/lunar-bin", .environ = "FLATPAK_ID=ignored.because.Info",
                     .flatpakInfo = "[Instance]\ninstance-id=123\n\n[Application]\nname=fyi.Lunar.App\n"});
    proc.add(11, {.comm = "helper", .cmdline = "helper", .environ = "PATH=/bin FLATPAK_ID=com.herf.Flux X=1"});
    proc.add(12, {.comm = "plain", .cmdline = "plain", .environ = "XFLATPAK_ID=no FLATPAK_IDX=no"});
    for (const char* notAProcess : {"self", "sys", "12ab", "0"})
        QDir(proc.dir.path()).mkpath(QLatin1String(notAProcess));
    // Names the kernel cut at 15 bytes are completed from the executable or the first argument.
    proc.add(20, {"redshift-schedu", "redshift-scheduler", me, 'S', "/usr/bin/redshift-scheduler"});
    proc.add(21, {"night-light-con", "/opt/night-light-control --x", me, 'S', "/usr/bin/python3.11"});  // a script
    proc.add(22, {"abcdefghijklmno", "other", me, 'S', "/usr/bin/other"});                             // not cut
    proc.add(23, {"gammy-with-a-lo", "x", me, 'S', "/usr/bin/gammy-with-a-long-name (deleted)"});     // replaced
    EXPECT_EQ(proc.list(), (QStringList {"bash -", "lunar-bin fyi.Lunar.App", "helper com.herf.Flux", "plain -", "redshift-scheduler -",
                               "night-light-control -", "abcdefghijklmno -", "gammy-with-a-long-name -", "redshift -", "gammy -"}));
}

TEST(ProcRunningApplications, FlatpakIdsAreReadOnlyFromTheApplicationsName)
{
    using P = ProcRunningApplications;
    const std::pair<QByteArray, std::optional<QString>> infos[] = {
        {"[Application]\r\n name = org.example.App \r\n", QStringLiteral("org.example.App")},
        {"[Runtime]\nname=org.kde.Platform\n[Application]\nruntime=x\nname=a.b.C\n", QStringLiteral("a.b.C")},
        {"[Runtime]\nname=org.kde.Platform\n", std::nullopt},
        {"name=a.b.C\n", std::nullopt},
        {"[Application]\nname=\n", std::nullopt},
        {"[Application]\n=x\nappname=x\n", std::nullopt},
    };
    for (const auto& [info, id] : infos)
        EXPECT_EQ(P::flatpakIdFromInfo(info), id) << info.constData();
    EXPECT_EQ(P::flatpakIdFromEnviron(QByteArray("FLATPAK_ID=\0", 12)), std::nullopt);
}

// Leaving ourselves out is checked on the fake tree: by name here it would trip over any other
// run of this program at the same moment.
TEST(ProcRunningApplications, TheRealListHasOurChildUntilItEnds)
{
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/ambrano-probe-long-name");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), program));
    QProcess child;
    child.start(program, {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted(5000));
    auto listed = [] {
        for (const RunningApplication& a : ProcRunningApplications().runningApplications()) {
            if (a.localizedName == QStringLiteral("ambrano-probe-long-name"))
                return true;
        }
        return false;
    };
    EXPECT_TRUE(listed());
    child.kill();
    child.waitForFinished(5000);
    EXPECT_FALSE(listed());
}
