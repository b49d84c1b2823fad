#include "brightness/DDC.h"
#include "brightness/PWMSafe.h"
#include "platform/linux/I2CDevTransport.h"
#include "platform/linux/PanelConnectors.h"
#include "system/EventLog.h"

#include "FakeDisplayServices.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

// A fake /sys/class with DRM connectors and a fake /dev whose i2c nodes are plain files: they
// open, but no I2C transfer works on them.
struct FakeTree {
    QTemporaryDir dir;
    QString classRoot = dir.path() + QStringLiteral("/class");
    QString devRoot = dir.path() + QStringLiteral("/dev");
    FakeTree()
    {
        for (const char* d : {"/class/drm/card0", "/class/i2c-dev", "/dev"})
            QDir().mkpath(dir.path() + QLatin1String(d));
    }
    // ddc: "link:i2c-N" for a ddc link, "dir:i2c-N" for a DisplayPort AUX folder.
    void connector(const char* name, const char* status, const QString& ddc = {})
    {
        const QString d = classRoot + QStringLiteral("/drm/") + QLatin1String(name);
        QDir().mkpath(d);
        writeFile(d + QStringLiteral("/status"), QByteArray(status) + '\n');
        if (ddc.startsWith(QStringLiteral("link:")))
            QFile::link(dir.path() + QStringLiteral("/devices/") + ddc.mid(5), d + QStringLiteral("/ddc"));
        else if (ddc.startsWith(QStringLiteral("dir:")))
            QDir().mkpath(d + u'/' + ddc.mid(4));
    }
    void node(const char* name) const { writeFile(devRoot + u'/' + QLatin1String(name), "untouched"); }
};

// The real backend without its real pauses.
struct QuickI2CDevTransport : I2CDevTransport {
    using I2CDevTransport::I2CDevTransport;
    int pauses = 0;
    void pause(std::uint32_t) override { ++pauses; }
};

}  // namespace

TEST(I2CDevTransport, FindsConnectedExternalMonitorsWithAnOpenableAdapter)
{
    FakeTree t;
    t.connector("card0-eDP-1", "connected", QStringLiteral("link:i2c-1"));
    t.connector("card0-DP-1", "connected", QStringLiteral("dir:i2c-5"));
    t.connector("card0-DP-2", "disconnected", QStringLiteral("dir:i2c-6"));
    t.connector("card0-DP-3", "unknown", QStringLiteral("dir:i2c-6"));
    t.connector("card0-DP-4", "connectedish", QStringLiteral("dir:i2c-6"));
    t.connector("card0-HDMI-A-1", "connected", QStringLiteral("link:i2c-3"));
    t.connector("card0-HDMI-A-2", "connected", QStringLiteral("link:i2c-9"));  // no node
    t.connector("card0-DVI-D-1", "connected", QStringLiteral("link:i2c-7"));   // node cannot be opened
    t.connector("card0-VGA-1", "connected");                                   // no adapter
    t.connector("card1-LVDS-1", "connected", QStringLiteral("link:i2c-2"));
    t.connector("card1-DSI-1", "connected", QStringLiteral("link:i2c-4"));
    for (const char* n : {"i2c-1", "i2c-2", "i2c-3", "i2c-4", "i2c-5", "i2c-6"})
        t.node(n);
    QDir().mkpath(t.devRoot + QStringLiteral("/i2c-7"));

    I2CDevTransport transport(t.classRoot, t.devRoot);
    std::vector<std::string> found;
    for (const DDCService& s : transport.externalServices())
        found.push_back(s->connector + " " + s->device);
    const std::string dev = t.devRoot.toStdString();
    EXPECT_EQ(found, (std::vector<std::string> {"card0-DP-1 " + dev + "/i2c-5", "card0-HDMI-A-1 " + dev + "/i2c-3"}));

    // Available: an openable node of an adapter's name, with the module loaded.
    EXPECT_TRUE(transport.available());
    ASSERT_TRUE(QDir(t.classRoot + QStringLiteral("/i2c-dev")).removeRecursively());
    EXPECT_FALSE(transport.available());
    FakeTree other;
    QDir().mkpath(other.devRoot + QStringLiteral("/i2c-3"));
    other.node("i2c-x");
    EXPECT_FALSE(I2CDevTransport(other.classRoot, other.devRoot).available());
}

TEST(PanelConnectors, PanelNamesAreRecognised)
{
    for (const char* p : {"eDP-1", "edp-1-1", "LVDS1", "DSI-1", "LCD"})
        EXPECT_TRUE(isPanelConnector(QString::fromLatin1(p))) << p;
    for (const char* e : {"DP-1", "HDMI-A-1", "DVI-D-1", "VGA-1", "Virtual-1"})
        EXPECT_FALSE(isPanelConnector(QString::fromLatin1(e))) << e;
}

TEST(I2CDevTransport, KeepsTheStandardsDelaysAndChecksReplies)
{
    const DDCTiming t = I2CDevTransport().timing();
    EXPECT_TRUE(t.beforeReadUs >= 40000 && t.afterSetUs >= 50000 && t.checkReplies && t.readAttempts > 1);
}

// A node that acknowledges nothing (here: not an adapter at all, like a monitor with DDC/CI
// switched off) fails every transfer, is not reported pinned, and is not written back later.
TEST(I2CDevTransport, AMonitorThatAcknowledgesNothingIsNeitherWrittenNorCounted)
{
    FakeTree t;
    t.connector("card0-DP-1", "connected", QStringLiteral("dir:i2c-5"));
    t.node("i2c-5");
    QuickI2CDevTransport transport(t.classRoot, t.devRoot);
    const std::vector<DDCService> services = transport.externalServices();
    ASSERT_EQ(services.size(), 1u);
    const auto msg = DDC::luminanceMessage(100);
    DDC::Reply reply {};
    EXPECT_NE(transport.writeI2C(services[0], DDC::CHIP, DDC::INPUT, msg.data(), msg.size()), 0);
    EXPECT_NE(transport.readI2C(services[0], DDC::CHIP, DDC::INPUT, reply.data(), DDC::replyLength), 0);

    DDC ddc(&transport);
    FakeDisplayServices displays;
    displays.addDisplay(7);
    PWMSafe pwm;
    pwm.setDisplayServices(&displays);
    pwm.setDDC(&ddc);
    pwm.setSleep([](std::chrono::microseconds) {});
    EXPECT_TRUE(pwm.available());
    pwm.enable();
    EXPECT_EQ(pwm.state(), PWMState::unsupported);
    EXPECT_TRUE(pwm.savedExternal().empty());
    EXPECT_TRUE(EventLog::shared().dump().contains(QStringLiteral("pwm: card0-DP-1 did not accept DDC/CI")));
    const int pauses = transport.pauses;
    EXPECT_GT(pauses, 0);
    pwm.disable();
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_EQ(transport.pauses, pauses);  // no traffic
    EXPECT_EQ(readFile(t.devRoot + QStringLiteral("/i2c-5")), "untouched");

    // The node vanishes: transfers fail without making it again.
    ASSERT_TRUE(QFile::remove(t.devRoot + QStringLiteral("/i2c-5")));
    EXPECT_NE(transport.writeI2C(services[0], DDC::CHIP, DDC::INPUT, msg.data(), msg.size()), 0);
    EXPECT_FALSE(QFileInfo::exists(t.devRoot + QStringLiteral("/i2c-5")));
}
