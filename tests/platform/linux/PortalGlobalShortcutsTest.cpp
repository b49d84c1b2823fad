#include "platform/linux/PortalGlobalShortcuts.h"
#include "system/HotKey.h"
#include "support/PrivateBus.h"
#include <gtest/gtest.h>
#include <QDBusContext>
#include <QDBusMessage>
#include <future>

// The desktop portal's GlobalShortcuts, answering as xdg-desktop-portal does: a request handle
// as the reply, the Response signal on it (here even before the reply).
class PortalStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    uint version() const { return 1; }
    QStringList bound;  // "<session> <trigger>", one per BindShortcuts
public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options)
    {
        return respond(options, {{"session_handle", path + "/session/" + options.value("session_handle_token").toString()}});
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<PortalShortcut>& shortcuts, const QString&, const QVariantMap& options)
    {
        for (const PortalShortcut& shortcut : shortcuts)
            bound << session.path() + u' ' + shortcut.properties.value("preferred_trigger").toString();
        return respond(options, {});
    }
private:
    QDBusObjectPath respond(const QVariantMap& options, const QVariantMap& results)
    {
        const QString request = path + "/request/" + message().service().mid(1).replace(u'.', u'_') + u'/' + options.value("handle_token").toString();
        connection().send(QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response") << 0u << results);
        return QDBusObjectPath(request);
    }
};

TEST(PortalGlobalShortcuts, BindsTheStoredShortcutAndOnlyItsActivationsToggle)
{
    EXPECT_EQ(PortalGlobalShortcuts::preferredTrigger(49, 0xFFFFFFFF), QStringLiteral("CTRL+ALT+SHIFT+LOGO+space"));
    EXPECT_FALSE(PortalGlobalShortcuts::preferredTrigger(999, 0x100));
    const QString address = PrivateBus::address();
    ASSERT_FALSE(address.isEmpty()) << "no private dbus-daemon (package dbus)";
    FreshSettings settings;
    QDBusConnection portalBus = QDBusConnection::connectToBus(address, "portal-stand-in");
    const QDBusConnection appBus = QDBusConnection::connectToBus(address, "portal-client");
    PortalStandIn portal;
    PortalGlobalShortcuts backend(appBus);  // registers the D-Bus types the stand-in takes
    ASSERT_TRUE(portalBus.registerObject(PortalStandIn::path, &portal, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(portalBus.registerService("org.freedesktop.portal.Desktop"));
    int presses = 0;
    struct Detach {
        ~Detach() { HotKey::shared().setService(nullptr); HotKey::shared().onTrigger = nullptr; }
    } detach;
    HotKey::shared().setService(&backend);
    HotKey::shared().onTrigger = [&] { ++presses; };
    HotKey::shared().registerHotKey();
    ASSERT_TRUE(waitFor([&] { return backend.isBound(); }));
    // The question blocks, and the stand-in answers on this thread: ask from another.
    auto availableOn = [](const QDBusConnection& bus) {
        auto answer = std::async(std::launch::async, [bus] { return PortalGlobalShortcuts::available(bus); });
        waitFor([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return answer.get();
    };
    auto session = [&](int bind) { return portal.bound.value(bind).section(u' ', 0, 0); };
    // The portal's Activated signal for a session; the count of toggles it caused.
    auto pressesAfter = [&](const QString& session, const QString& id = "toggle") {
        const int before = presses;
        portalBus.send(QDBusMessage::createSignal(PortalStandIn::path, "org.freedesktop.portal.GlobalShortcuts", "Activated")
            << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0) << QVariantMap());
        spin(200);
        return presses - before;
    };
    EXPECT_TRUE(availableOn(appBus));
    ASSERT_EQ(portal.bound.size(), 1);
    EXPECT_TRUE(portal.bound[0].endsWith(" CTRL+ALT+LOGO+z"));
    EXPECT_EQ(pressesAfter(session(0)), 1);
    // Another shortcut id or another program's session is not ours.
    EXPECT_EQ(pressesAfter(session(0), "other"), 0);
    EXPECT_EQ(pressesAfter(session(0) + "x"), 0);
    // A new combination takes a new session: the old one's presses no longer count.
    HotKey::shared().rebind(0, 0x200);
    EXPECT_FALSE(backend.isBound());  // until the new session is bound
    ASSERT_TRUE(waitFor([&] { return backend.isBound() && portal.bound.size() == 2; }));
    EXPECT_TRUE(portal.bound[1].endsWith(" SHIFT+a"));
    EXPECT_EQ(pressesAfter(session(0)), 0);
    EXPECT_EQ(pressesAfter(session(1)), 1);
    portalBus.unregisterService("org.freedesktop.portal.Desktop");
    EXPECT_FALSE(availableOn(appBus));
}

#include "PortalGlobalShortcutsTest.moc"
