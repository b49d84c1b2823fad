#include "platform/linux/SysfsBacklight.h"
#include "TestFiles.h"
#include "support/PrivateBus.h"
#include <gtest/gtest.h>
#include <QDBusContext>
#include <QDBusMessage>
#include <QTemporaryDir>
#include <cmath>
#include <future>

// systemd-logind's session object, as far as the backend uses it.
class LogindStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
public:
    QStringList calls;  // "<object path> <subsystem> <name> <value>"
    bool refuse = false;
public slots:
    void SetBrightness(const QString& subsystem, const QString& name, uint value)
    {
        calls << QStringLiteral("%1 %2 %3 %4").arg(message().path(), subsystem, name).arg(value);
        if (refuse)
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not in an active session"));
    }
};

struct FakeSysClass {
    QTemporaryDir dir;
    QString device(const QString& name) const { return dir.path() + "/backlight/" + name; }
    // "<name> <type> <max> [<parent as the kernel links it: card0-eDP-1>]"
    void add(const QString& line, const QByteArray& level = "3")
    {
        const QStringList f = line.split(u' ');
        for (const auto& [file, text] : {std::pair {"type", f[1].toUtf8()}, {"max_brightness", f[2].toUtf8()}, {"brightness", level}})
            write(f[0], file, text + '\n');
        if (f.size() > 3)
            QFile::link("../../devices/" + f[3], device(f[0]) + "/device");
    }
    void write(const QString& name, const char* file, const QByteArray& text) const { ASSERT_TRUE(writeFile(device(name) + u'/' + file, text)); }
    QByteArray brightness(const QString& name) const { return readFile(device(name) + "/brightness"); }
};

const QDBusConnection noBus(QStringLiteral("ambrano-no-bus"));

// With the ddcci driver loaded an external monitor shows up here too: the panel's steps must
// never drive it. The device below a panel connector wins, then firmware, platform, raw.
TEST(SysfsBacklight, TheBuiltinIsTheDeviceOnAPanelConnectorAndNeverADDCCIOne)
{
    // Names sort so that a rank given wrongly would pick another device.
    const std::pair<QStringList, QString> cases[] = {
        {{"amdgpu_bl0 raw 255", "dell_backlight platform 15"}, "dell_backlight"},
        {{"acer-wmi platform 15", "acpi_video0 firmware 100"}, "acpi_video0"},
        {{"acpi_video0 firmware 100 LNXVIDEO:00", "amdgpu_bl0 raw 100 card0-DP-2", "amdgpu_bl1 raw 100 card1-eDP-1"}, "amdgpu_bl1"},
        {{"acpi_video0 firmware 0", "acpi_video1 firmware x", "odd_backlight unknown 937", "raw_backlight raw 937"}, "raw_backlight"},
        {{"ddcci5 firmware 100 5-0037"}, ""},
    };
    for (const auto& [devices, chosen] : cases) {
        FakeSysClass sys;
        for (const QString& d : devices)
            sys.add(d);
        const SysfsBacklight b(sys.dir.path(), noBus);
        EXPECT_EQ(b.device(), chosen);
        EXPECT_EQ(b.functions().setBrightness && b.functions().getBrightness, !chosen.isEmpty());
    }
}

// Levels map to the device's integers so that every one survives the round trip, and what is
// read is what is written to `brightness`. Failures are reported and write nothing.
TEST(SysfsBacklight, TheSavedLevelComesBackAsTheSameIntegerAndFailuresWriteNothing)
{
    for (int max : {1, 7, 937, 120000, 1000000}) {
        int bad = 0;
        for (int v = 0; v <= max; ++v)
            bad += SysfsBacklight::levelToValue(SysfsBacklight::valueToLevel(v, max), max) != v;
        EXPECT_EQ(bad, 0) << "max " << max;
    }
    EXPECT_EQ(SysfsBacklight::levelToValue(0.5f, 937), 469);  // 468.5 rounds up
    EXPECT_EQ(SysfsBacklight::levelToValue(1.7f, 255), 255);
    EXPECT_EQ(SysfsBacklight::levelToValue(-0.3f, 255), 0);
    EXPECT_FALSE(SysfsBacklight::levelToValue(std::nanf(""), 255) || SysfsBacklight::levelToValue(0.5f, 0));
    EXPECT_FLOAT_EQ(SysfsBacklight::valueToLevel(2000, 1000), 1.0f);
    const std::pair<const char*, std::optional<int>> parsed[] = {{"  4093\n", 4093}, {"2147483647", 2147483647}, {"", {}},
        {"-3", {}}, {"12a", {}}, {"2147483648", {}}, {"99999999999", {}}};
    for (const auto& [text, value] : parsed)
        EXPECT_EQ(SysfsBacklight::parseValue(text), value) << text;
    FakeSysClass sys;
    sys.add("intel_backlight raw 19393", "7777");
    // Adaptive backlight: the hardware runs below the level asked for; restoring that would drift.
    sys.write("intel_backlight", "actual_brightness", "7000\n");
    const SysfsBacklight backlight(sys.dir.path(), noBus);
    const Backlight& b = backlight.functions();
    float saved = -1.0f;
    ASSERT_EQ(b.getBrightness(0, &saved), 0);
    ASSERT_EQ(b.setBrightness(0, 1.0f), 0);
    EXPECT_EQ(sys.brightness("intel_backlight"), "19393\n");
    ASSERT_EQ(b.setBrightness(0, saved), 0);
    EXPECT_EQ(sys.brightness("intel_backlight"), "7777\n");
    float level = -1.0f;
    sys.write("intel_backlight", "brightness", "garbage");
    EXPECT_TRUE(b.getBrightness(0, &level) != 0 && level == -1.0f);
    sys.write("intel_backlight", "brightness", "5\n");
    sys.write("intel_backlight", "max_brightness", "0\n");
    EXPECT_TRUE(b.setBrightness(0, 1.0f) != 0 && b.getBrightness(0, &level) != 0);
    sys.write("intel_backlight", "max_brightness", "100\n");
    EXPECT_NE(b.setBrightness(0, std::nanf("")), 0);
    EXPECT_EQ(sys.brightness("intel_backlight"), "5\n");
}

TEST(SysfsBacklight, AReadOnlyBrightnessIsWrittenThroughLogindAndAWritableOneNever)
{
    const QString address = PrivateBus::address();
    ASSERT_FALSE(address.isEmpty()) << "no private dbus-daemon (package dbus)";
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());  // the backend's "system bus"
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("logind-stand-in"));
    LogindStandIn logind;
    const QString session = QStringLiteral("/org/freedesktop/login1/session/auto");
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.login1")));
    ASSERT_TRUE(bus.registerObject(session, &logind, QDBusConnection::ExportAllSlots));
    FakeSysClass sys;
    sys.add("intel_backlight raw 937");
    const SysfsBacklight b(sys.dir.path());
    // Asked from another thread, as the controller's worker does, while the stand-in answers here.
    auto set = [&b](float level) {
        auto future = std::async(std::launch::async, [&] { return b.functions().setBrightness(0, level); });
        EXPECT_TRUE(waitFor([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000));
        return future.get();
    };
    EXPECT_EQ(set(1.0f), 0);  // writable: logind is never asked
    // Read-only even for root: a link to a kernel attribute that takes no writes.
    const QString readOnly = QStringLiteral("/sys/kernel/address_bits");
    if (!QFileInfo::exists(readOnly))
        GTEST_SKIP() << "no read-only kernel attribute to stand for the device";
    const QString brightness = sys.device("intel_backlight") + QStringLiteral("/brightness");
    ASSERT_TRUE(QFile::remove(brightness) && QFile::link(readOnly, brightness));
    EXPECT_NE(SysfsBacklight(sys.dir.path(), noBus).functions().setBrightness(0, 1.0f), 0);  // no logind to ask
    EXPECT_EQ(set(411.0f / 937.0f), 0);
    EXPECT_EQ(logind.calls, QStringList {session + QStringLiteral(" backlight intel_backlight 411")});
    logind.refuse = true;  // a refusal is a failed write, not a success
    EXPECT_NE(set(0.5f), 0);
}

#include "SysfsBacklightTest.moc"
