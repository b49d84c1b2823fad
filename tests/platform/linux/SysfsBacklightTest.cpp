#include "brightness/PWMSafe.h"
#include "platform/linux/SysfsBacklight.h"

#include "FakeDisplayServices.h"
#include "LogindStandIn.h"
#include "TestFiles.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <fcntl.h>
#include <future>
#include <unistd.h>

namespace {

// A fake /sys/class with backlight devices in a temporary folder.
struct FakeSysClass {
    QTemporaryDir dir;
    QString root() const { return dir.path(); }
    QString device(const char* name) const { return dir.path() + QStringLiteral("/backlight/") + QLatin1String(name); }
    // parent: the device's parent as the kernel links it ("card0-eDP-1", "5-0037"); empty for none.
    void add(const char* name, const QByteArray& type, const QByteArray& max, const QByteArray& level, const char* parent = "")
    {
        for (const auto& [file, text] : {std::pair {"type", type}, {"max_brightness", max}, {"actual_brightness", level}, {"brightness", level}})
            write(name, file, text + '\n');
        if (*parent)
            QFile::link(QStringLiteral("../../devices/") + QLatin1String(parent), device(name) + QStringLiteral("/device"));
    }
    void write(const char* name, const char* file, const QByteArray& text) const
    {
        ASSERT_TRUE(writeFile(device(name) + u'/' + QLatin1String(file), text));
    }
    QByteArray read(const char* name, const char* file) const { return readFile(device(name) + u'/' + QLatin1String(file)); }
};

const QDBusConnection noBus(QStringLiteral("ambrano-no-bus"));

float level(const SysfsBacklight& b, std::int32_t* status = nullptr)
{
    float level = -1.0f;
    const std::int32_t s = b.functions().getBrightness(0, &level);
    if (status)
        *status = s;
    return level;
}

}  // namespace

TEST(SysfsBacklightLevels, EveryIntegerSurvivesTheRoundTripAndLevelsAreClamped)
{
    for (int max : {1, 7, 255, 937, 4882, 19393, 120000, 1000000}) {
        int bad = 0;
        for (int v = 0; v <= max; ++v)
            bad += SysfsBacklight::levelToValue(SysfsBacklight::valueToLevel(v, max), max) != v;
        EXPECT_EQ(bad, 0) << "max " << max;
    }
    EXPECT_EQ(SysfsBacklight::levelToValue(0.5f, 937), 469);  // 468.5 rounds up
    EXPECT_EQ(SysfsBacklight::levelToValue(1.7f, 255), 255);
    EXPECT_EQ(SysfsBacklight::levelToValue(-0.3f, 255), 0);
    EXPECT_FALSE(SysfsBacklight::levelToValue(std::nanf(""), 255));
    EXPECT_FALSE(SysfsBacklight::levelToValue(0.5f, 0));
    EXPECT_FLOAT_EQ(SysfsBacklight::valueToLevel(2000, 1000), 1.0f);
    EXPECT_EQ(SysfsBacklight::parseValue("  421\n"), 421);
    for (const char* bad : {"", "\n", "abc", "-3", "12a", "4.5", "99999999999", "2147483648", "0x10", "1 2"})
        EXPECT_FALSE(SysfsBacklight::parseValue(bad)) << bad;
}

// With the ddcci driver loaded an external monitor shows up here too: the panel's steps must
// never drive it. The device below a panel connector wins, then firmware, platform, raw.
TEST(SysfsBacklight, TheBuiltinIsTheDeviceOnAPanelConnectorAndNeverADDCCIOne)
{
    struct Device {
        const char* name;
        QByteArray type, max;
        const char* parent = "";
    };
    const struct {
        std::vector<Device> devices;
        const char* chosen;
    } cases[] = {
        {{{"amdgpu_bl0", "raw", "255"}, {"dell_backlight", "platform", "15"}}, "dell_backlight"},
        {{{"amdgpu_bl0", "raw", "255"}, {"dell_backlight", "platform", "15"}, {"acpi_video0", "firmware", "100"}}, "acpi_video0"},
        {{{"ddcci5", "raw", "100", "5-0037"}, {"intel_backlight", "raw", "100", "card0-eDP-1"}}, "intel_backlight"},
        {{{"ddcci5", "raw", "100", "5-0037"}, {"nvidia_0", "raw", "100", "0000:01:00.0"}}, "nvidia_0"},
        {{{"acpi_video0", "firmware", "100", "LNXVIDEO:00"}, {"amdgpu_bl1", "raw", "100", "card1-eDP-1"},
             {"amdgpu_bl0", "raw", "100", "card0-DP-2"}},
            "amdgpu_bl1"},
        {{{"ddcci5", "firmware", "100", "5-0037"}}, ""},
        {{{"acpi_video0", "firmware", "0"}, {"acpi_video1", "firmware", "garbage"}}, ""},
        {{{"acpi_video0", "firmware", "0"}, {"odd_backlight", "", "937"}, {"raw_backlight", "raw", "937"}}, "raw_backlight"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        FakeSysClass sys;
        for (const Device& d : c.devices)
            sys.add(d.name, d.type, d.max, "3", d.parent);
        const SysfsBacklight b(sys.root(), noBus);
        EXPECT_EQ(b.device(), QLatin1String(c.chosen));
        EXPECT_EQ(bool(b.functions().setBrightness), *c.chosen != 0);
        EXPECT_EQ(bool(b.functions().getBrightness), *c.chosen != 0);
        EXPECT_FALSE(b.functions().enableALC || b.functions().alcEnabled);
    }
}

TEST(SysfsBacklight, TheSavedLevelComesBackAsTheExactIntegerAndNothingElseIsWritten)
{
    FakeSysClass sys;
    sys.add("intel_backlight", "raw", "120000", "48213");
    // Adaptive backlight: the hardware runs below the level asked for. What is written to
    // `brightness` is what is read back, or each round trip would shift the user's level.
    sys.write("intel_backlight", "actual_brightness", "40000\n");
    const SysfsBacklight b(sys.root(), noBus);
    const float saved = level(b);
    EXPECT_NEAR(saved, 48213.0 / 120000.0, 1e-6);
    ASSERT_EQ(b.functions().setBrightness(0, 1.0f), 0);
    EXPECT_EQ(sys.read("intel_backlight", "brightness"), "120000\n");
    EXPECT_FLOAT_EQ(level(b), 1.0f);
    ASSERT_EQ(b.functions().setBrightness(0, saved), 0);
    EXPECT_EQ(sys.read("intel_backlight", "brightness"), "48213\n");

    // A value beyond the maximum reads as full, never more; garbage leaves the level untouched.
    sys.write("intel_backlight", "brightness", "250000\n");
    EXPECT_FLOAT_EQ(level(b), 1.0f);
    sys.write("intel_backlight", "brightness", "\xff\xfe garbage");
    std::int32_t status = 0;
    EXPECT_FLOAT_EQ(level(b, &status), -1.0f);
    EXPECT_NE(status, 0);

    // Nothing is written without a valid range, a level or the device.
    sys.write("intel_backlight", "brightness", "5\n");
    for (const QByteArray max : {"0\n", "x\n"}) {
        sys.write("intel_backlight", "max_brightness", max);
        EXPECT_NE(b.functions().setBrightness(0, 1.0f), 0);
        level(b, &status);
        EXPECT_NE(status, 0);
    }
    sys.write("intel_backlight", "max_brightness", "100\n");
    EXPECT_NE(b.functions().setBrightness(0, std::nanf("")), 0);
    EXPECT_EQ(sys.read("intel_backlight", "brightness"), "5\n");
    ASSERT_EQ(b.functions().setBrightness(0, -1.0f), 0);
    EXPECT_EQ(sys.read("intel_backlight", "brightness"), "0\n");
    ASSERT_TRUE(QDir(sys.device("intel_backlight")).removeRecursively());
    EXPECT_NE(b.functions().setBrightness(0, 0.5f), 0);
    EXPECT_FALSE(QFileInfo::exists(sys.device("intel_backlight")));  // not made again
}

// The controller over the real backend: pinned to the maximum, then back to the same integer.
TEST(SysfsBacklight, TheControllerPinsAndRestoresThroughSysfs)
{
    FakeSysClass sys;
    sys.add("intel_backlight", "raw", "19393", "7777");
    const SysfsBacklight b(sys.root(), noBus);
    FakeDisplayServices displays;
    displays.addDisplay(1, true);
    DDC ddc;
    PWMSafe pwm;
    pwm.setDisplayServices(&displays);
    pwm.setDDC(&ddc);
    pwm.setBacklight(b.functions());
    pwm.setSleep([](std::chrono::microseconds) {});
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::active);
    EXPECT_EQ(sys.read("intel_backlight", "brightness"), "19393\n");
    pwm.disable();
    EXPECT_EQ(sys.read("intel_backlight", "brightness"), "7777\n");
    // A device that vanishes in between leaves the state off.
    pwm.enable();
    ASSERT_TRUE(QDir(sys.device("intel_backlight")).removeRecursively());
    pwm.disable();
    EXPECT_EQ(pwm.state(), PWMState::off);
}

TEST(SysfsBacklight, AReadOnlyBrightnessIsWrittenThroughLogindAndAWritableOneNever)
{
    const QString address = PrivateBus::address();
    ASSERT_FALSE(address.isEmpty()) << "no private dbus-daemon (package dbus)";
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());  // the backend's "system bus"
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("logind-stand-in"));
    FakeSysClass sys;
    LogindStandIn logind(sys.root() + QStringLiteral("/backlight"));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.login1")));
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/login1/session/auto"), &logind, QDBusConnection::ExportAllSlots));
    sys.add("intel_backlight", "raw", "937", "411");
    const SysfsBacklight b(sys.root());
    // Asked from another thread, as the controller's worker does, while the stand-in answers here.
    auto set = [&b](float level) {
        auto future = std::async(std::launch::async, [&] { return b.functions().setBrightness(0, level); });
        EXPECT_TRUE(waitFor([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000));
        return future.get();
    };
    EXPECT_EQ(set(1.0f), 0);
    EXPECT_EQ(sys.read("intel_backlight", "brightness"), "937\n");
    EXPECT_TRUE(logind.calls.isEmpty());

    // As root, permission bits do not stop writes: the file becomes a link to a read-only
    // kernel attribute instead, and the stand-in reports what it applied in actual_brightness.
    const QString brightness = sys.device("intel_backlight") + QStringLiteral("/brightness");
    const char* readOnly = "/sys/kernel/address_bits";
    if (geteuid() != 0)
        QFile::setPermissions(brightness, QFileDevice::ReadOwner);
    else if (const int fd = ::open(readOnly, O_WRONLY); fd >= 0 || !QFile::remove(brightness) || !QFile::link(QLatin1String(readOnly), brightness)) {
        ::close(fd);
        GTEST_SKIP() << "no read-only kernel attribute to stand for the device";
    }
    EXPECT_NE(SysfsBacklight(sys.root(), noBus).functions().setBrightness(0, 1.0f), 0);  // no logind to ask
    EXPECT_EQ(set(411.0f / 937.0f), 0);
    EXPECT_EQ(set(1.0f), 0);
    EXPECT_EQ(logind.calls, (QStringList {QStringLiteral("/org/freedesktop/login1/session/auto backlight intel_backlight 411"),
                                QStringLiteral("/org/freedesktop/login1/session/auto backlight intel_backlight 937")}));
    EXPECT_EQ(sys.read("intel_backlight", "actual_brightness"), "937\n");
    // logind refusing is a failed write, not a success.
    logind.refuse = true;
    EXPECT_NE(set(0.5f), 0);
    EXPECT_EQ(sys.read("intel_backlight", "actual_brightness"), "937\n");
    bus.unregisterObject(QStringLiteral("/org/freedesktop/login1/session/auto"));
}
