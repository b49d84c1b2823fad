#include "brightness/PWMSafe.h"
#include "platform/linux/SysfsBacklight.h"

#include "FakeDisplayServices.h"
#include "LogindStandIn.h"
#include "support/PrivateBus.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <cmath>
#include <fcntl.h>
#include <future>
#include <unistd.h>
#include <vector>

namespace {

// A fake /sys/class with backlight devices in a temporary folder.
class FakeSysClass {
public:
    QString root() const { return dir_.path(); }
    QString device(const QString& name) const { return dir_.path() + QStringLiteral("/backlight/") + name; }

    void add(const QString& name, const QByteArray& type, const QByteArray& max, const QByteArray& actual)
    {
        QDir().mkpath(device(name));
        write(name, "type", type + '\n');
        write(name, "max_brightness", max + '\n');
        write(name, "actual_brightness", actual + '\n');
        write(name, "brightness", actual + '\n');
    }
    // The device's parent, as the kernel links it: "card0-eDP-1", "5-0037", "0000:01:00.0".
    void parent(const QString& name, const QString& parent) const
    {
        QDir().mkpath(dir_.path() + QStringLiteral("/devices/") + parent);
        ASSERT_TRUE(QFile::link(QStringLiteral("../../devices/") + parent, device(name) + QStringLiteral("/device")));
    }
    void write(const QString& name, const char* file, const QByteArray& text) const
    {
        QFile f(device(name) + QLatin1Char('/') + QLatin1String(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QByteArray read(const QString& name, const char* file) const
    {
        QFile f(device(name) + QLatin1Char('/') + QLatin1String(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    // Like the kernel: what was written to brightness is what the hardware now reports.
    void settle(const QString& name) const { write(name, "actual_brightness", read(name, "brightness")); }

private:
    QTemporaryDir dir_;
};

QDBusConnection noBus()
{
    return QDBusConnection(QStringLiteral("ambrano-no-bus"));
}

// Makes a file this process cannot open for writing. As root, permission bits do not stop
// writes, so the file becomes a link to a read-only kernel attribute instead.
bool makeUnwritable(const QString& path)
{
    if (geteuid() != 0)
        return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    for (const char* candidate : {"/sys/kernel/fscaps", "/sys/kernel/address_bits", "/sys/kernel/cpu_byteorder",
             "/sys/devices/system/cpu/possible", "/sys/devices/system/cpu/kernel_max"}) {
        const int fd = ::open(candidate, O_WRONLY);
        if (fd >= 0) {
            ::close(fd);
            continue;
        }
        if (errno != EACCES)
            continue;
        QFile::remove(path);
        return QFile::link(QString::fromLatin1(candidate), path);
    }
    return false;
}

}  // namespace

TEST(SysfsBacklightLevels, EveryIntegerSurvivesTheRoundTrip)
{
    for (int max : {1, 7, 15, 100, 255, 937, 1000, 1515, 4882, 19393, 65535, 120000, 1000000}) {
        int bad = 0;
        for (int v = 0; v <= max; ++v) {
            if (SysfsBacklight::levelToValue(SysfsBacklight::valueToLevel(v, max), max) != v)
                ++bad;
        }
        EXPECT_EQ(bad, 0) << "max " << max;
    }
}

TEST(SysfsBacklightLevels, LevelsAreClampedAndRounded)
{
    EXPECT_EQ(SysfsBacklight::levelToValue(1.0f, 937), 937);
    EXPECT_EQ(SysfsBacklight::levelToValue(0.5f, 937), 469);  // 468.5 rounds up
    EXPECT_EQ(SysfsBacklight::levelToValue(1.7f, 255), 255);
    EXPECT_EQ(SysfsBacklight::levelToValue(-0.3f, 255), 0);
    EXPECT_FALSE(SysfsBacklight::levelToValue(std::nanf(""), 255).has_value());
    EXPECT_FALSE(SysfsBacklight::levelToValue(0.5f, 0).has_value());
    EXPECT_FLOAT_EQ(SysfsBacklight::valueToLevel(2000, 1000), 1.0f);
}

TEST(SysfsBacklightLevels, OnlyPlainNumbersParse)
{
    EXPECT_EQ(SysfsBacklight::parseValue("  421\n"), 421);
    for (const char* bad : {"", "\n", "abc", "-3", "12a", "4.5", "99999999999", "0x10", "1 2"})
        EXPECT_FALSE(SysfsBacklight::parseValue(bad).has_value()) << bad;
}

TEST(SysfsBacklight, PrefersFirmwareThenPlatformThenRaw)
{
    FakeSysClass sys;
    sys.add(QStringLiteral("amdgpu_bl0"), "raw", "255", "100");
    sys.add(QStringLiteral("dell_backlight"), "platform", "15", "7");
    EXPECT_EQ(SysfsBacklight(sys.root(), noBus()).device(), QStringLiteral("dell_backlight"));
    sys.add(QStringLiteral("acpi_video0"), "firmware", "100", "40");
    EXPECT_EQ(SysfsBacklight(sys.root(), noBus()).device(), QStringLiteral("acpi_video0"));
}

// With the ddcci driver loaded an external monitor shows up here too: the panel's steps
// must never drive it.
TEST(SysfsBacklight, TheBuiltinIsTheDeviceOnAPanelConnectorAndNeverADDCCIOne)
{
    struct Device {
        const char* name;
        const char* type;
        const char* parent;  // empty: no link
    };
    struct Case {
        std::vector<Device> devices;
        const char* chosen;
    };
    const Case cases[] = {
        {{{"ddcci5", "raw", "5-0037"}, {"intel_backlight", "raw", "card0-eDP-1"}}, "intel_backlight"},
        {{{"ddcci5", "raw", "5-0037"}, {"nvidia_0", "raw", "0000:01:00.0"}}, "nvidia_0"},
        {{{"ddcci5", "raw", ""}, {"intel_backlight", "raw", ""}}, "intel_backlight"},
        {{{"acpi_video0", "firmware", "LNXVIDEO:00"}, {"amdgpu_bl1", "raw", "card1-eDP-1"},
             {"amdgpu_bl0", "raw", "card0-DP-2"}},
            "amdgpu_bl1"},
        {{{"ddcci5", "firmware", "5-0037"}}, ""},
    };
    for (const Case& c : cases) {
        FakeSysClass sys;
        for (const Device& d : c.devices) {
            sys.add(QString::fromLatin1(d.name), d.type, "100", "50");
            if (*d.parent)
                sys.parent(QString::fromLatin1(d.name), QString::fromLatin1(d.parent));
        }
        EXPECT_EQ(SysfsBacklight(sys.root(), noBus()).device(), QString::fromLatin1(c.chosen)) << c.chosen;
    }
}

TEST(SysfsBacklight, UnusableDevicesAreSkippedAndNoneLeavesTheOperationsAbsent)
{
    FakeSysClass sys;
    SysfsBacklight none(sys.root(), noBus());
    EXPECT_FALSE(none.functions().setBrightness);
    EXPECT_FALSE(none.functions().getBrightness);

    sys.add(QStringLiteral("acpi_video0"), "firmware", "0", "0");
    sys.add(QStringLiteral("acpi_video1"), "firmware", "garbage", "3");
    SysfsBacklight broken(sys.root(), noBus());
    EXPECT_TRUE(broken.device().isEmpty());
    EXPECT_FALSE(broken.functions().setBrightness);

    sys.add(QStringLiteral("intel_backlight"), "raw", "937", "300");
    SysfsBacklight raw(sys.root(), noBus());
    EXPECT_EQ(raw.device(), QStringLiteral("intel_backlight"));
    EXPECT_TRUE(raw.functions().setBrightness);
    EXPECT_FALSE(raw.functions().enableALC);
    EXPECT_FALSE(raw.functions().alcEnabled);
}

TEST(SysfsBacklight, WritesReadsAndRestoresTheExactInteger)
{
    FakeSysClass sys;
    const QString dev = QStringLiteral("intel_backlight");
    sys.add(dev, "raw", "120000", "48213");
    SysfsBacklight b(sys.root(), noBus());
    float saved = -1.0f;
    ASSERT_EQ(b.functions().getBrightness(0, &saved), 0);
    EXPECT_NEAR(saved, 48213.0 / 120000.0, 1e-6);

    ASSERT_EQ(b.functions().setBrightness(0, 1.0f), 0);
    EXPECT_EQ(sys.read(dev, "brightness"), "120000\n");
    sys.settle(dev);
    float now = -1.0f;
    ASSERT_EQ(b.functions().getBrightness(0, &now), 0);
    EXPECT_FLOAT_EQ(now, 1.0f);

    ASSERT_EQ(b.functions().setBrightness(0, saved), 0);
    EXPECT_EQ(sys.read(dev, "brightness"), "48213\n");
}

TEST(SysfsBacklight, TheLevelIsReadFromWhereItIsWritten)
{
    FakeSysClass sys;
    const QString dev = QStringLiteral("amdgpu_bl0");
    sys.add(dev, "raw", "100", "40");
    SysfsBacklight b(sys.root(), noBus());

    // Adaptive backlight: the hardware runs below the level asked for.
    sys.write(dev, "actual_brightness", "31\n");
    float level = -1.0f;
    ASSERT_EQ(b.functions().getBrightness(0, &level), 0);
    EXPECT_FLOAT_EQ(level, 0.4f);

    // A value beyond the maximum reads as full, never more.
    sys.write(dev, "brightness", "250\n");
    ASSERT_EQ(b.functions().getBrightness(0, &level), 0);
    EXPECT_FLOAT_EQ(level, 1.0f);

    sys.write(dev, "brightness", "\xff\xfe garbage");
    level = -1.0f;
    EXPECT_NE(b.functions().getBrightness(0, &level), 0);
    EXPECT_FLOAT_EQ(level, -1.0f);  // untouched
}

TEST(SysfsBacklight, NothingIsWrittenWithoutAValidRange)
{
    FakeSysClass sys;
    const QString dev = QStringLiteral("acpi_video0");
    sys.add(dev, "firmware", "100", "40");
    SysfsBacklight b(sys.root(), noBus());

    sys.write(dev, "max_brightness", "0\n");
    EXPECT_NE(b.functions().setBrightness(0, 1.0f), 0);
    sys.write(dev, "max_brightness", "x\n");
    EXPECT_NE(b.functions().setBrightness(0, 1.0f), 0);
    float level = -1.0f;
    EXPECT_NE(b.functions().getBrightness(0, &level), 0);
    EXPECT_EQ(sys.read(dev, "brightness"), "40\n");

    sys.write(dev, "max_brightness", "100\n");
    EXPECT_NE(b.functions().setBrightness(0, std::nanf("")), 0);
    EXPECT_EQ(sys.read(dev, "brightness"), "40\n");
    ASSERT_EQ(b.functions().setBrightness(0, 3.0f), 0);
    EXPECT_EQ(sys.read(dev, "brightness"), "100\n");
    ASSERT_EQ(b.functions().setBrightness(0, -1.0f), 0);
    EXPECT_EQ(sys.read(dev, "brightness"), "0\n");
}

TEST(SysfsBacklight, VanishedDeviceFailsWithoutRecreatingIt)
{
    FakeSysClass sys;
    const QString dev = QStringLiteral("acpi_video0");
    sys.add(dev, "firmware", "100", "40");
    SysfsBacklight b(sys.root(), noBus());
    ASSERT_TRUE(QDir(sys.device(dev)).removeRecursively());
    EXPECT_NE(b.functions().setBrightness(0, 0.5f), 0);
    float level = -1.0f;
    EXPECT_NE(b.functions().getBrightness(0, &level), 0);
    EXPECT_FALSE(QFileInfo::exists(sys.device(dev)));
}

// The controller over the real backend: pinned to the maximum, then back to the same integer,
// and a device that vanishes in between leaves the state off without a crash.
TEST(SysfsBacklight, ControllerPinsAndRestoresThroughSysfs)
{
    FakeSysClass sys;
    const QString dev = QStringLiteral("intel_backlight");
    sys.add(dev, "raw", "19393", "7777");
    sys.write(dev, "actual_brightness", "7000\n");  // what the hardware makes of it
    SysfsBacklight b(sys.root(), noBus());
    FakeDisplayServices displays;
    displays.addDisplay(1, true);
    DDC ddc;
    PWMSafe pwm;
    pwm.setDisplayServices(&displays);
    pwm.setDDC(&ddc);
    pwm.setBacklight(b.functions());
    int polls = 0;
    pwm.setSleep([&](std::chrono::microseconds) {
        ++polls;
        sys.settle(dev);
    });

    EXPECT_TRUE(pwm.available());
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::active);
    EXPECT_EQ(polls, 1);
    EXPECT_EQ(sys.read(dev, "brightness"), "19393\n");
    pwm.disable();
    EXPECT_EQ(sys.read(dev, "brightness"), "7777\n");

    pwm.enable();
    ASSERT_TRUE(QDir(sys.device(dev)).removeRecursively());
    pwm.disable();
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_FALSE(QFileInfo::exists(sys.device(dev)));
}

class LogindBacklightTest : public ::testing::Test {
protected:
    // One private daemon for the whole process, since the process connects to "the system
    // bus" only once. It ends with the test process.
    static void SetUpTestSuite()
    {
        if (!address_.isEmpty())
            return;
        address_ = PrivateBus::address();
        if (address_.isEmpty())
            return;
        // The backend talks to "the system bus"; here that is the private daemon.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
        QDBusConnection logind = QDBusConnection::connectToBus(address_, QStringLiteral("logind-stand-in"));
        if (!logind.isConnected() || !logind.registerService(QStringLiteral("org.freedesktop.login1")))
            address_.clear();
    }

    void SetUp() override
    {
        if (address_.isEmpty())
            FAIL() << "no private dbus-daemon (package dbus)";
        standIn_ = std::make_unique<LogindStandIn>(sys.root() + QStringLiteral("/backlight"));
        QDBusConnection logind(QStringLiteral("logind-stand-in"));
        ASSERT_TRUE(logind.registerObject(QStringLiteral("/org/freedesktop/login1/session/auto"), standIn_.get(),
            QDBusConnection::ExportAllSlots));
    }

    void TearDown() override
    {
        QDBusConnection logind(QStringLiteral("logind-stand-in"));
        logind.unregisterObject(QStringLiteral("/org/freedesktop/login1/session/auto"));
    }

    // Runs fn on another thread (the controller's worker does) while the stand-in answers here.
    template <typename F>
    auto offMain(F fn)
    {
        auto future = std::async(std::launch::async, fn);
        EXPECT_TRUE(waitFor([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000));
        return future.get();
    }

    FakeSysClass sys;
    std::unique_ptr<LogindStandIn> standIn_;
    static inline QString address_;
};

TEST_F(LogindBacklightTest, ReadOnlyBrightnessGoesThroughLogind)
{
    const QString dev = QStringLiteral("intel_backlight");
    sys.add(dev, "raw", "937", "411");
    if (!makeUnwritable(sys.device(dev) + QStringLiteral("/brightness")))
        GTEST_SKIP() << "cannot make a file this process may not write";

    // As root the file is now a link to a kernel attribute, so its content says nothing here:
    // the stand-in reports what it applied in actual_brightness.
    SysfsBacklight b(sys.root());  // the default: the system bus
    EXPECT_EQ(offMain([&] { return b.functions().setBrightness(0, 1.0f); }), 0);
    ASSERT_EQ(standIn_->calls.size(), 1);
    EXPECT_EQ(standIn_->calls[0].subsystem, QStringLiteral("backlight"));
    EXPECT_EQ(standIn_->calls[0].name, dev);
    EXPECT_EQ(standIn_->calls[0].value, 937u);
    EXPECT_EQ(standIn_->calls[0].path, QStringLiteral("/org/freedesktop/login1/session/auto"));
    EXPECT_EQ(sys.read(dev, "actual_brightness"), "937\n");

    EXPECT_EQ(offMain([&] { return b.functions().setBrightness(0, 411.0f / 937.0f); }), 0);
    ASSERT_EQ(standIn_->calls.size(), 2);
    EXPECT_EQ(standIn_->calls[1].value, 411u);
    EXPECT_EQ(sys.read(dev, "actual_brightness"), "411\n");

    // logind refusing is a failed write, not a success.
    standIn_->refuse = true;
    EXPECT_NE(offMain([&] { return b.functions().setBrightness(0, 0.5f); }), 0);
    EXPECT_EQ(sys.read(dev, "actual_brightness"), "411\n");
}

TEST_F(LogindBacklightTest, WritableBrightnessNeverAsksLogind)
{
    const QString dev = QStringLiteral("intel_backlight");
    sys.add(dev, "raw", "937", "411");
    SysfsBacklight b(sys.root());
    EXPECT_EQ(offMain([&] { return b.functions().setBrightness(0, 1.0f); }), 0);
    EXPECT_EQ(sys.read(dev, "brightness"), "937\n");
    EXPECT_TRUE(standIn_->calls.isEmpty());
}
