#include "platform/linux/ProcRunningApplications.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

#include <unistd.h>

// A /proc tree in a temporary folder: the files the listing reads, as the kernel writes them.

namespace {

constexpr std::uint32_t me = 1000;
constexpr std::int64_t self = 4242;

class FakeProc {
public:
    QString root() const { return dir_.path(); }

    struct Process {
        QByteArray comm{};
        std::uint32_t uid = me;
        char state = 'S';
        QByteArray cmdline{};  // NUL-separated
        QByteArray environ{};
        QByteArray flatpakInfo{};
        QString exe{};
        bool status = true;
    };

    void add(std::int64_t pid, const Process& p)
    {
        const QString d = dir_.path() + u'/' + QString::number(pid);
        QDir().mkpath(d);
        if (p.status) {
            write(d + QStringLiteral("/status"),
                "Name:\t" + p.comm + "\nUmask:\t0022\nState:\t" + QByteArray(1, p.state) + " (sleeping)\nTgid:\t"
                    + QByteArray::number(qint64(pid)) + "\nUid:\t" + QByteArray::number(p.uid) + '\t' + QByteArray::number(p.uid)
                    + '\t' + QByteArray::number(p.uid) + '\t' + QByteArray::number(p.uid) + "\nGid:\t100\t100\t100\t100\n");
        }
        write(d + QStringLiteral("/comm"), p.comm + '\n');
        write(d + QStringLiteral("/cmdline"), p.cmdline);
        write(d + QStringLiteral("/environ"), p.environ);
        if (!p.flatpakInfo.isEmpty()) {
            QDir().mkpath(d + QStringLiteral("/root"));
            write(d + QStringLiteral("/root/.flatpak-info"), p.flatpakInfo);
        }
        if (!p.exe.isEmpty())
            QFile::link(p.exe, d + QStringLiteral("/exe"));
    }

private:
    static void write(const QString& path, const QByteArray& data)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QTemporaryDir dir_;
};

QByteArray args(std::initializer_list<const char*> list)
{
    QByteArray out;
    for (const char* a : list) {
        out += a;
        out += '\0';
    }
    return out;
}

std::vector<QString> names(const std::vector<RunningApplication>& apps)
{
    std::vector<QString> out;
    for (const auto& a : apps)
        out.push_back(a.localizedName.value_or(QStringLiteral("<none>")));
    return out;
}

}  // namespace

TEST(ProcRunningApplications, ListsThisUsersRunningProcessesInPidOrder)
{
    FakeProc proc;
    proc.add(100, {.comm = "redshift", .cmdline = args({"/usr/bin/redshift", "-l", "41:2"})});
    proc.add(7, {.comm = "bash", .cmdline = args({"-bash"})});
    proc.add(2000, {.comm = "gammy", .cmdline = args({"python3", "/usr/bin/gammy"})});
    proc.add(101, {.comm = "iris", .uid = 1001, .cmdline = args({"iris"})});           // another user
    proc.add(102, {.comm = "kworker/0:1", .uid = me, .cmdline = {}});                  // kernel thread
    proc.add(103, {.comm = "lunar", .state = 'Z', .cmdline = {}});                     // zombie
    proc.add(104, {.comm = "flux", .state = 'X', .cmdline = args({"flux"})});          // dead
    proc.add(self, {.comm = "redshift", .cmdline = args({"redshift"})});               // this program
    proc.add(105, {.comm = "gone", .cmdline = args({"gone"}), .status = false});       // ended meanwhile
    QDir(proc.root()).mkpath(QStringLiteral("self"));
    QDir(proc.root()).mkpath(QStringLiteral("sys"));
    QDir(proc.root()).mkpath(QStringLiteral("12ab"));

    ProcRunningApplications list(proc.root(), me, self);
    const auto apps = list.runningApplications();
    EXPECT_EQ(names(apps), (std::vector<QString>{QStringLiteral("bash"), QStringLiteral("redshift"), QStringLiteral("gammy")}));
    for (const auto& a : apps)
        EXPECT_FALSE(a.bundleIdentifier.has_value()) << a.localizedName->toStdString();
}

TEST(ProcRunningApplications, FlatpakAppsCarryTheirId)
{
    FakeProc proc;
    proc.add(10, {.comm = "lunar-bin",
                     .cmdline = args({"/app/bin/lunar-bin"}),
                     .environ = args({"HOME=/home/u", "FLATPAK_ID=ignored.because.Info"}),
                     .flatpakInfo = "[Instance]\ninstance-id=123\n\n[Application]\nname=fyi.Lunar.App\nruntime=runtime/org.kde.Platform\n"});
    proc.add(11, {.comm = "helper", .cmdline = args({"helper"}), .environ = args({"PATH=/bin", "FLATPAK_ID=com.herf.Flux", "X=1"})});
    proc.add(12, {.comm = "plain", .cmdline = args({"plain"}), .environ = args({"XFLATPAK_ID=no", "FLATPAK_IDX=no"})});

    const auto apps = ProcRunningApplications(proc.root(), me, self).runningApplications();
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0].bundleIdentifier, QStringLiteral("fyi.Lunar.App"));
    EXPECT_EQ(apps[1].bundleIdentifier, QStringLiteral("com.herf.Flux"));
    EXPECT_EQ(apps[2].bundleIdentifier, std::nullopt);
}

TEST(ProcRunningApplications, CutNamesAreCompletedFromTheExecutable)
{
    FakeProc proc;
    // The kernel keeps 15 bytes of "redshift-scheduler".
    proc.add(20, {.comm = "redshift-schedu", .cmdline = args({"redshift-scheduler"}), .exe = QStringLiteral("/usr/bin/redshift-scheduler")});
    // A script: the executable is the interpreter; the first argument names it.
    proc.add(21, {.comm = "night-light-con", .cmdline = args({"/opt/night-light-control", "--x"}), .exe = QStringLiteral("/usr/bin/python3.11")});
    // A name of exactly 15 bytes that is not cut.
    proc.add(22, {.comm = "abcdefghijklmno", .cmdline = args({"other"}), .exe = QStringLiteral("/usr/bin/other")});
    // A replaced executable.
    proc.add(23, {.comm = "gammy-with-a-lo", .cmdline = args({"x"}), .exe = QStringLiteral("/usr/bin/gammy-with-a-long-name (deleted)")});

    const auto apps = ProcRunningApplications(proc.root(), me, self).runningApplications();
    EXPECT_EQ(names(apps),
        (std::vector<QString>{QStringLiteral("redshift-scheduler"), QStringLiteral("night-light-control"), QStringLiteral("abcdefghijklmno"),
            QStringLiteral("gammy-with-a-long-name")}));
}

TEST(ProcRunningApplications, FlatpakInfoParsing)
{
    using P = ProcRunningApplications;
    EXPECT_EQ(P::flatpakIdFromInfo("[Application]\nname=org.example.App\n"), QStringLiteral("org.example.App"));
    EXPECT_EQ(P::flatpakIdFromInfo("[Application]\r\n name = org.example.App \r\n"), QStringLiteral("org.example.App"));
    EXPECT_EQ(P::flatpakIdFromInfo("[Runtime]\nname=org.kde.Platform\n[Application]\nruntime=x\nname=a.b.C\n"), QStringLiteral("a.b.C"));
    EXPECT_EQ(P::flatpakIdFromInfo("[Runtime]\nname=org.kde.Platform\n"), std::nullopt);
    EXPECT_EQ(P::flatpakIdFromInfo("[Application]\nname=\n"), std::nullopt);
    EXPECT_EQ(P::flatpakIdFromInfo("[Application]\nappname=x\n"), std::nullopt);
    EXPECT_EQ(P::flatpakIdFromInfo(""), std::nullopt);
    EXPECT_EQ(P::flatpakIdFromEnviron(QByteArray("A=1\0FLATPAK_ID=x.y.Z\0", 21)), QStringLiteral("x.y.Z"));
    EXPECT_EQ(P::flatpakIdFromEnviron(QByteArray("FLATPAK_ID=\0", 12)), std::nullopt);
    EXPECT_EQ(P::flatpakIdFromEnviron(QByteArray()), std::nullopt);
}

// Leaving ourselves out is checked on the fake tree: by name here it would trip over any other
// run of this program at the same moment.
TEST(ProcRunningApplications, TheRealListHasOurChild)
{
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/ambrano-probe-long-name");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), program));
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QProcess child;
    child.start(program, {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted(5000));

    ProcRunningApplications list;
    const auto apps = list.runningApplications();
    const auto found = names(apps);
    EXPECT_NE(std::find(found.begin(), found.end(), QStringLiteral("ambrano-probe-long-name")), found.end());
    EXPECT_FALSE(apps.empty());

    child.kill();
    child.waitForFinished(5000);
    const auto after = names(list.runningApplications());
    EXPECT_EQ(std::find(after.begin(), after.end(), QStringLiteral("ambrano-probe-long-name")), after.end());
}
