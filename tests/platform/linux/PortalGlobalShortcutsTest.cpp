#include "platform/linux/PortalGlobalShortcuts.h"
#include "system/HotKey.h"

#include "PortalStandIn.h"
#include "support/PrivateBus.h"

#include <gtest/gtest.h>

#include <future>

TEST(PortalTrigger, TheStoredShortcutInThePortalsNotation)
{
    const std::tuple<std::uint32_t, std::uint32_t, const char*> cases[] = {
        {6, 0x1900, "CTRL+ALT+LOGO+z"},
        {49, 0x300, "SHIFT+LOGO+space"},
        {29, 0xFFFFFFFF, "CTRL+ALT+SHIFT+LOGO+0"},
    };
    for (const auto& [keyCode, mods, trigger] : cases)
        EXPECT_EQ(PortalGlobalShortcuts::preferredTrigger(keyCode, mods), QString::fromLatin1(trigger));
    EXPECT_FALSE(PortalGlobalShortcuts::preferredTrigger(999, 0x100));
}

class PortalGlobalShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(address.isEmpty()) << "no private dbus-daemon (package dbus)";
        ASSERT_TRUE(portalBus.registerObject(PortalStandIn::path, &portal, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        backend = std::make_unique<PortalGlobalShortcuts>(appBus);
        HotKey::shared().setService(backend.get());
        HotKey::shared().onTrigger = [this] { ++presses; };
        HotKey::shared().registerHotKey();
        ASSERT_TRUE(waitFor([&] { return backend->isBound(); }));
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
        portal.press(session, id);
        spin(200);
        return presses - before;
    }
    QString session(int bind) const { return portal.bound.value(bind).section(u' ', 0, 0); }

    FreshSettings settings;
    QString address = PrivateBus::address();
    QDBusConnection portalBus = QDBusConnection::connectToBus(address, QStringLiteral("portal-stand-in"));
    QDBusConnection appBus = QDBusConnection::connectToBus(address, QStringLiteral("portal-client"));
    PortalStandIn portal {portalBus};
    std::unique_ptr<PortalGlobalShortcuts> backend;
    int presses = 0;
};

TEST_F(PortalGlobalShortcutsTest, BindsTheStoredShortcutAndOnlyItsActivationsToggle)
{
    EXPECT_TRUE(availableOn(appBus));
    ASSERT_EQ(portal.bound.size(), 1);
    EXPECT_TRUE(portal.bound[0].endsWith(QStringLiteral(" CTRL+ALT+LOGO+z")));
    EXPECT_EQ(pressesAfter(session(0)), 1);
    // Another shortcut id or another program's session is not ours.
    EXPECT_EQ(pressesAfter(session(0), QStringLiteral("other")), 0);
    EXPECT_EQ(pressesAfter(session(0) + QStringLiteral("x")), 0);

    // A new combination: the old session is closed and its presses no longer count.
    HotKey::shared().rebind(0, 0x200);
    ASSERT_TRUE(waitFor([&] { return backend->isBound() && portal.bound.size() == 2; }));
    EXPECT_TRUE(portal.bound[1].endsWith(QStringLiteral(" SHIFT+a")));
    EXPECT_EQ(portal.sessions.closed, QStringList {session(0)});
    EXPECT_EQ(pressesAfter(session(0)), 0);
    EXPECT_EQ(pressesAfter(session(1)), 1);
}

TEST_F(PortalGlobalShortcutsTest, ADeclinedShortcutNeverFiresAndNoPortalIsNotAvailable)
{
    portal.refuseBind = true;
    HotKey::shared().rebind(0, 0x200);
    ASSERT_TRUE(waitFor([&] { return portal.bound.size() == 2; }));
    spin(100);
    EXPECT_FALSE(backend->isBound());
    EXPECT_EQ(pressesAfter(session(1)), 0);

    portalBus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    EXPECT_FALSE(availableOn(appBus));
    EXPECT_FALSE(availableOn(QDBusConnection(QStringLiteral("not-connected"))));
}
