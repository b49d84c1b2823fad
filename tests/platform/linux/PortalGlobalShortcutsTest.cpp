#include "platform/linux/PortalGlobalShortcuts.h"
#include "system/HotKey.h"

#include "PortalStandIn.h"
#include "support/PrivateBus.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>

TEST(PortalTrigger, TheStoredShortcutInThePortalsNotation)
{
    const struct {
        std::uint32_t keyCode;
        std::uint32_t mods;
        const char* trigger;
    } cases[] = {
        {6, 0x1900, "CTRL+ALT+LOGO+z"},
        {49, 0x300, "SHIFT+LOGO+space"},
        {36, 0x1000 | 0x200, "CTRL+SHIFT+Return"},
        {122, 0x800, "ALT+F1"},
        {29, 0xFFFFFFFF, "CTRL+ALT+SHIFT+LOGO+0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortalGlobalShortcuts::preferredTrigger(c.keyCode, c.mods), QString::fromLatin1(c.trigger)) << c.trigger;
    EXPECT_FALSE(PortalGlobalShortcuts::preferredTrigger(999, 0x100));
}

class PortalGlobalShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString address = PrivateBus::address();
        ASSERT_FALSE(address.isEmpty()) << "no private dbus-daemon (package dbus)";
        portalBus = QDBusConnection::connectToBus(address, QStringLiteral("portal-stand-in"));
        appBus = QDBusConnection::connectToBus(address, QStringLiteral("portal-client"));
        portal = std::make_unique<PortalStandIn>(portalBus);
        ASSERT_TRUE(portalBus.registerObject(PortalStandIn::path, portal.get(),
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        backend = std::make_unique<PortalGlobalShortcuts>(appBus);
        HotKey::shared().setService(backend.get());
        HotKey::shared().onTrigger = [this] { ++presses; };
        HotKey::shared().registerHotKey();
    }

    void TearDown() override
    {
        HotKey::shared().setService(nullptr);
        HotKey::shared().onTrigger = nullptr;
        portalBus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        portalBus.unregisterObject(PortalStandIn::path, QDBusConnection::UnregisterTree);
    }

    // The question blocks, and the stand-in answers on this thread: ask from another.
    static bool availableOn(const QDBusConnection& bus)
    {
        auto answer = std::async(std::launch::async, [bus] { return PortalGlobalShortcuts::available(bus); });
        waitFor([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return answer.get();
    }

    // Presses on the portal's side and lets the signal arrive.
    int pressesAfter(const QString& session, const QString& id = QStringLiteral("toggle"))
    {
        const int before = presses;
        portal->press(session, id);
        spin(200);
        return presses - before;
    }

    FreshSettings settings;
    QDBusConnection portalBus {QString()};
    QDBusConnection appBus {QString()};
    std::unique_ptr<PortalStandIn> portal;
    std::unique_ptr<PortalGlobalShortcuts> backend;
    int presses = 0;
};

TEST_F(PortalGlobalShortcutsTest, BindsTheStoredShortcutAndEachActivationToggles)
{
    EXPECT_TRUE(availableOn(appBus));
    ASSERT_TRUE(waitFor([&] { return backend->isBound(); }));
    ASSERT_EQ(portal->triggers, QStringList {"CTRL+ALT+LOGO+z"});
    const QString session = portal->boundSessions.first();
    EXPECT_EQ(pressesAfter(session), 1);
    // Another shortcut id or another program's session is not ours.
    EXPECT_EQ(pressesAfter(session, QStringLiteral("other")), 0);
    EXPECT_EQ(pressesAfter(session + QStringLiteral("x")), 0);

    // A new combination: the old session is closed and its presses no longer count.
    HotKey::shared().rebind(0, 0x200);
    ASSERT_TRUE(waitFor([&] { return backend->isBound() && portal->triggers.size() == 2; }));
    EXPECT_EQ(portal->triggers.last(), QStringLiteral("SHIFT+a"));
    EXPECT_EQ(portal->sessions.closed, QStringList {session});
    EXPECT_EQ(pressesAfter(session), 0);
    EXPECT_EQ(pressesAfter(portal->boundSessions.last()), 1);
}

TEST_F(PortalGlobalShortcutsTest, ADeclinedShortcutNeverFires)
{
    ASSERT_TRUE(waitFor([&] { return backend->isBound(); }));
    portal->refuseBind = true;
    HotKey::shared().rebind(0, 0x200);
    ASSERT_TRUE(waitFor([&] { return portal->triggers.size() == 2; }));
    spin(100);
    EXPECT_FALSE(backend->isBound());
    EXPECT_EQ(pressesAfter(portal->boundSessions.last()), 0);
}

TEST_F(PortalGlobalShortcutsTest, NoPortalIsNotAvailable)
{
    portalBus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    EXPECT_FALSE(availableOn(appBus));
    EXPECT_FALSE(availableOn(QDBusConnection(QStringLiteral("not-connected"))));
}
