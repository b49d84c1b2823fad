#include "brightness/DDC.h"
#include "platform/linux/I2CDevTransport.h"
#include "platform/linux/PanelConnectors.h"
#include "TestFiles.h"
#include <gtest/gtest.h>
#include <QTemporaryDir>

// A fake /sys/class with DRM connectors and a fake /dev whose i2c nodes are plain files: they
// open, but no I2C transfer works on them.
struct FakeTree {
    QTemporaryDir dir;
    QString classRoot = dir.path() + "/class", devRoot = dir.path() + "/dev";
    FakeTree() { QDir().mkpath(classRoot + "/i2c-dev"); }
    // adapter: "i2c-N" as the ddc link, "aux/i2c-N" as a DisplayPort AUX folder.
    void connector(const QString& name, const char* status, const QString& adapter = {})
    {
        const QString d = classRoot + "/drm/" + name;
        writeFile(d + "/status", QByteArray(status) + '\n');
        if (adapter.startsWith("aux/"))
            QDir().mkpath(d + adapter.mid(3));
        else if (!adapter.isEmpty())
            QFile::link(dir.path() + "/devices/" + adapter, d + "/ddc");
    }
    void node(const char* name) const { writeFile(devRoot + u'/' + name, "untouched"); }
};

TEST(I2CDevTransport, FindsExternalMonitorsWithAnOpenableAdapterAndNeverWritesADeadNode)
{
    FakeTree t;
    t.connector("card0-eDP-1", "connected", "i2c-1");
    t.connector("card0-DP-1", "connected", "aux/i2c-5");
    t.connector("card0-DP-2", "disconnected", "aux/i2c-6");
    t.connector("card0-HDMI-A-1", "connected", "i2c-3");
    t.connector("card0-HDMI-A-2", "connected", "i2c-9");  // no node
    t.connector("card0-VGA-1", "connected");              // no adapter
    for (const char* n : {"i2c-1", "i2c-3", "i2c-5", "i2c-6"})
        t.node(n);
    I2CDevTransport transport(t.classRoot, t.devRoot);
    const std::vector<DDCService> services = transport.externalServices();
    std::vector<std::string> found;
    for (const DDCService& s : services)
        found.push_back(s->connector + " " + s->device);
    const std::string dev = t.devRoot.toStdString();
    ASSERT_EQ(found, (std::vector<std::string> {"card0-DP-1 " + dev + "/i2c-5", "card0-HDMI-A-1 " + dev + "/i2c-3"}));
    // A node that acknowledges nothing (here: no adapter at all, like a monitor with DDC/CI
    // off) fails every transfer and is never written.
    const auto msg = DDC::luminanceMessage(100);
    DDC::Reply reply {};
    EXPECT_NE(transport.writeI2C(services[0], DDC::CHIP, DDC::INPUT, msg.data(), msg.size()), 0);
    EXPECT_NE(transport.readI2C(services[0], DDC::CHIP, DDC::INPUT, reply.data(), DDC::replyLength), 0);
    EXPECT_EQ(readFile(t.devRoot + "/i2c-5"), "untouched");
    EXPECT_TRUE(transport.timing().checkReplies);  // a bare bus: the standard's pauses and retries
    // Available: an openable node of an adapter's name, with the module loaded.
    EXPECT_TRUE(transport.available());
    FakeTree other;
    QDir().mkpath(other.devRoot + "/i2c-3");
    other.node("i2c-x");
    EXPECT_FALSE(I2CDevTransport(other.classRoot, other.devRoot).available());
    ASSERT_TRUE(QDir(t.classRoot + "/i2c-dev").removeRecursively());
    EXPECT_FALSE(transport.available());
    // The panel names the gamma, DDC and backlight backends agree on.
    for (const char* panel : {"eDP-1", "edp-1-1", "LVDS1", "DSI-1", "LCD"})
        EXPECT_TRUE(isPanelConnector(panel)) << panel;
    for (const char* external : {"DP-1", "HDMI-A-1", "VGA-1", "Virtual-1"})
        EXPECT_FALSE(isPanelConnector(external)) << external;
}
