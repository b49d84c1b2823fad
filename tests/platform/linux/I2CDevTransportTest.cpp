#include "brightness/DDC.h"
#include "brightness/PWMSafe.h"
#include "platform/linux/I2CDevTransport.h"
#include "platform/linux/PanelConnectors.h"
#include "system/EventLog.h"

#include "FakeDisplayServices.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// A fake /sys/class/drm with connectors, and a fake /dev with i2c nodes (plain files: they
// open, but no I2C transfer works on them).
class FakeTree {
public:
    FakeTree()
    {
        QDir(root()).mkpath(QStringLiteral("class/drm"));
        QDir(root()).mkpath(QStringLiteral("class/i2c-dev"));
        QDir(root()).mkpath(QStringLiteral("devices/i2c"));
        QDir(root()).mkpath(QStringLiteral("dev"));
    }
    QString root() const { return dir_.path(); }
    QString classRoot() const { return root() + QStringLiteral("/class"); }
    QString devRoot() const { return root() + QStringLiteral("/dev"); }

    // ddc: "link:i2c-N" for a ddc link, "dir:i2c-N" for a DisplayPort AUX folder.
    void connector(const QString& name, const char* status, const QString& ddc = {})
    {
        const QString dir = classRoot() + QStringLiteral("/drm/") + name;
        QDir().mkpath(dir);
        QFile f(dir + QStringLiteral("/status"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(status) + '\n');
        if (ddc.startsWith(QStringLiteral("link:"))) {
            const QString target = root() + QStringLiteral("/devices/i2c/") + ddc.mid(5);
            QDir().mkpath(target);
            ASSERT_TRUE(QFile::link(target, dir + QStringLiteral("/ddc")));
        } else if (ddc.startsWith(QStringLiteral("dir:"))) {
            QDir().mkpath(dir + QLatin1Char('/') + ddc.mid(4));
        }
    }
    void node(const QString& name, const QByteArray& content = "untouched")
    {
        QFile f(devRoot() + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray nodeContent(const QString& name) const
    {
        QFile f(devRoot() + QLatin1Char('/') + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private:
    QTemporaryDir dir_;
};

// The real backend without its real pauses.
class QuickI2CDevTransport : public I2CDevTransport {
public:
    using I2CDevTransport::I2CDevTransport;
    int pauses = 0;
    void pause(std::uint32_t) override { ++pauses; }
};

std::vector<std::string> connectors(const std::vector<DDCService>& services)
{
    std::vector<std::string> out;
    for (const DDCService& s : services)
        out.push_back(s->connector + " " + s->device.substr(s->device.rfind('/') + 1));
    return out;
}

}  // namespace

TEST(I2CDevTransport, FindsConnectedExternalMonitorsWithAnOpenableAdapter)
{
    FakeTree t;
    t.connector(QStringLiteral("card0-eDP-1"), "connected", QStringLiteral("link:i2c-1"));
    t.connector(QStringLiteral("card0-DP-1"), "connected", QStringLiteral("dir:i2c-5"));
    t.connector(QStringLiteral("card0-DP-2"), "disconnected", QStringLiteral("dir:i2c-6"));
    t.connector(QStringLiteral("card0-HDMI-A-1"), "connected", QStringLiteral("link:i2c-3"));
    t.connector(QStringLiteral("card0-HDMI-A-2"), "connected", QStringLiteral("link:i2c-9"));  // no node
    t.connector(QStringLiteral("card0-DVI-D-1"), "connected", QStringLiteral("link:i2c-7"));   // node unopenable
    t.connector(QStringLiteral("card0-VGA-1"), "connected");                                   // no adapter
    t.connector(QStringLiteral("card1-LVDS-1"), "connected", QStringLiteral("link:i2c-2"));
    t.connector(QStringLiteral("card1-DSI-1"), "connected", QStringLiteral("link:i2c-4"));
    QDir().mkpath(t.classRoot() + QStringLiteral("/drm/card0"));
    QDir().mkpath(t.classRoot() + QStringLiteral("/drm/renderD128"));
    for (const char* n : {"i2c-1", "i2c-2", "i2c-3", "i2c-4", "i2c-5", "i2c-6"})
        t.node(QString::fromLatin1(n));
    QDir().mkpath(t.devRoot() + QStringLiteral("/i2c-7"));

    I2CDevTransport transport(t.classRoot(), t.devRoot());
    const std::vector<DDCService> services = transport.externalServices();
    EXPECT_EQ(connectors(services), (std::vector<std::string>{"card0-DP-1 i2c-5", "card0-HDMI-A-1 i2c-3"}));
    ASSERT_FALSE(services.empty());
    EXPECT_EQ(services[0]->device, (t.devRoot() + QStringLiteral("/i2c-5")).toStdString());
}

TEST(I2CDevTransport, StatusMustSayConnected)
{
    FakeTree t;
    t.connector(QStringLiteral("card0-DP-1"), "unknown", QStringLiteral("dir:i2c-5"));
    t.connector(QStringLiteral("card0-DP-2"), "connectedish", QStringLiteral("dir:i2c-6"));
    t.node(QStringLiteral("i2c-5"));
    t.node(QStringLiteral("i2c-6"));
    EXPECT_TRUE(I2CDevTransport(t.classRoot(), t.devRoot()).externalServices().empty());
}

TEST(I2CDevTransport, AvailableNeedsTheModuleAndAnOpenableNode)
{
    FakeTree t;
    I2CDevTransport transport(t.classRoot(), t.devRoot());
    EXPECT_FALSE(transport.available());  // no nodes
    QDir().mkpath(t.devRoot() + QStringLiteral("/i2c-3"));
    EXPECT_FALSE(transport.available());  // cannot be opened
    t.node(QStringLiteral("i2c-4"));
    EXPECT_TRUE(transport.available());
    ASSERT_TRUE(QDir(t.classRoot() + QStringLiteral("/i2c-dev")).removeRecursively());
    EXPECT_FALSE(transport.available());  // module not loaded
    EXPECT_FALSE(I2CDevTransport(t.root() + QStringLiteral("/nowhere"), t.root() + QStringLiteral("/nowhere")).available());
}

TEST(PanelConnectors, PanelNamesAreRecognised)
{
    for (const char* p : {"eDP-1", "eDP-1-1", "LVDS-1", "LVDS1", "DSI-1", "LCD"})
        EXPECT_TRUE(isPanelConnector(QString::fromLatin1(p))) << p;
    for (const char* e : {"DP-1", "HDMI-A-1", "DVI-D-1", "VGA-1", "Virtual-1"})
        EXPECT_FALSE(isPanelConnector(QString::fromLatin1(e))) << e;
}

TEST(I2CDevTransport, UsesTheStandardsDelaysAndChecksReplies)
{
    const DDCTiming t = I2CDevTransport().timing();
    EXPECT_GE(t.beforeReadUs, 40000u);
    EXPECT_GE(t.afterSetUs, 50000u);
    EXPECT_TRUE(t.checkReplies);
    EXPECT_GT(t.readAttempts, 1);
}

TEST(I2CDevTransport, TransfersToANonAdapterOrAVanishedOneFailAndWriteNothing)
{
    FakeTree t;
    t.connector(QStringLiteral("card0-DP-1"), "connected", QStringLiteral("dir:i2c-5"));
    t.node(QStringLiteral("i2c-5"));
    QuickI2CDevTransport transport(t.classRoot(), t.devRoot());
    const std::vector<DDCService> services = transport.externalServices();
    ASSERT_EQ(services.size(), 1u);
    const auto msg = DDC::luminanceMessage(100);
    EXPECT_NE(transport.writeI2C(services[0], DDC::CHIP, DDC::INPUT, msg.data(), msg.size()), 0);
    DDC::Reply reply{};
    EXPECT_NE(transport.readI2C(services[0], DDC::CHIP, DDC::INPUT, reply.data(), DDC::replyLength), 0);
    EXPECT_EQ(t.nodeContent(QStringLiteral("i2c-5")), "untouched");

    ASSERT_TRUE(QFile::remove(t.devRoot() + QStringLiteral("/i2c-5")));
    EXPECT_NE(transport.writeI2C(services[0], DDC::CHIP, DDC::INPUT, msg.data(), msg.size()), 0);
    EXPECT_NE(transport.readI2C(services[0], DDC::CHIP, DDC::INPUT, reply.data(), DDC::replyLength), 0);
    EXPECT_FALSE(QFileInfo::exists(t.devRoot() + QStringLiteral("/i2c-5")));
}

// A node that acknowledges nothing (here: not an adapter at all, like a monitor with DDC/CI
// switched off) is not reported pinned, and nothing is written back to it later.
TEST(I2CDevTransport, ControllerDoesNotCountAMonitorThatAcknowledgesNothing)
{
    FakeTree t;
    t.connector(QStringLiteral("card0-DP-1"), "connected", QStringLiteral("dir:i2c-5"));
    t.node(QStringLiteral("i2c-5"));
    QuickI2CDevTransport transport(t.classRoot(), t.devRoot());
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
    EXPECT_GT(transport.pauses, 0);
    EXPECT_TRUE(EventLog::shared().dump().contains(QStringLiteral("pwm: card0-DP-1 did not accept DDC/CI")));

    const int pauses = transport.pauses;
    pwm.disable();
    EXPECT_EQ(pwm.state(), PWMState::off);
    EXPECT_EQ(transport.pauses, pauses);  // no traffic
    EXPECT_EQ(t.nodeContent(QStringLiteral("i2c-5")), "untouched");
}
