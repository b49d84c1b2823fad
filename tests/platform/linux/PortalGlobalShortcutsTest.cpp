#include "platform/linux/PortalGlobalShortcuts.h"
#include "system/HotKey.h"

#include "support/PrivateBus.h"

#include <gtest/gtest.h>

#include <QDBusContext>
#include <QDBusMessage>
#include <QTimer>

#include <future>

// Every session object of the stand-in portal: Close is all the backend calls there.
class PortalSessionStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

public:
    QStringList closed;

public slots:
    void Close() { closed << message().path(); }
};

// The desktop portal's GlobalShortcuts as xdg-desktop-portal answers: a request handle at
// once, the Response signal on it a moment later.
class PortalStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    explicit PortalStandIn(QDBusConnection bus) : bus_(std::move(bus)) {}
    uint version() const { return 1; }

    QStringList bound;  // "<session> <trigger>", one per BindShortcuts
    PortalSessionStandIn sessions;
    bool refuseBind = false;  // the user declines in the desktop's dialog

    void press(const QString& session, const QString& id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0) << QVariantMap();
        bus_.send(signal);
    }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options)
    {
        const QString session = path + QStringLiteral("/session/") + options.value(QStringLiteral("session_handle_token")).toString();
        bus_.registerObject(session, &sessions, QDBusConnection::ExportAllSlots);
        return respond(options, 0, {{QStringLiteral("session_handle"), session}});
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<PortalShortcut>& shortcuts, const QString&, const QVariantMap& options)
    {
        for (const PortalShortcut& shortcut : shortcuts)
            bound << session.path() + u' ' + shortcut.properties.value(QStringLiteral("preferred_trigger")).toString();
        return respond(options, refuseBind ? 1 : 0, {});
    }

private:
    QDBusObjectPath respond(const QVariantMap& options, uint code, const QVariantMap& results)
    {
        const QString request = path + QStringLiteral("/request/") + message().service().mid(1).replace(u'.', u'_') + u'/'
            + options.value(QStringLiteral("handle_token")).toString();
        QTimer::singleShot(0, this, [this, request, code, results] {
            QDBusMessage response = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            response << code << results;
            bus_.send(response);
        });
        return QDBusObjectPath(request);
    }
    QDBusConnection bus_;
};

TEST(PortalTrigger, TheStoredShortcutInThePortalsNotation)
{
    EXPECT_EQ(PortalGlobalShortcuts::preferredTrigger(49, 0xFFFFFFFF), QStringLiteral("CTRL+ALT+SHIFT+LOGO+space"));
    EXPECT_FALSE(PortalGlobalShortcuts::preferredTrigger(999, 0x100));
}

TEST(PortalGlobalShortcuts, BindsTheStoredShortcutAndOnlyItsActivationsToggle)
{
    const QString address = PrivateBus::address();
    ASSERT_FALSE(address.isEmpty()) << "no private dbus-daemon (package dbus)";
    FreshSettings settings;
    QDBusConnection portalBus = QDBusConnection::connectToBus(address, QStringLiteral("portal-stand-in"));
    const QDBusConnection appBus = QDBusConnection::connectToBus(address, QStringLiteral("portal-client"));
    PortalStandIn portal(portalBus);
    PortalGlobalShortcuts backend(appBus);  // registers the D-Bus types the stand-in takes
    ASSERT_TRUE(portalBus.registerObject(PortalStandIn::path, &portal, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    int presses = 0;
    struct Detach {
        ~Detach() { HotKey::shared().setService(nullptr), HotKey::shared().onTrigger = nullptr; }
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
    // Presses in the session of the given BindShortcuts call and lets the signal arrive.
    auto pressesAfter = [&](int bind, const QString& id = QStringLiteral("toggle"), const QString& suffix = {}) {
        const int before = presses;
        portal.press(portal.bound.value(bind).section(u' ', 0, 0) + suffix, id);
        spin(200);
        return presses - before;
    };
    EXPECT_TRUE(availableOn(appBus));
    ASSERT_EQ(portal.bound.size(), 1);
    EXPECT_TRUE(portal.bound[0].endsWith(QStringLiteral(" CTRL+ALT+LOGO+z")));
    EXPECT_EQ(pressesAfter(0), 1);
    // Another shortcut id or another program's session is not ours.
    EXPECT_EQ(pressesAfter(0, QStringLiteral("other")), 0);
    EXPECT_EQ(pressesAfter(0, QStringLiteral("toggle"), QStringLiteral("x")), 0);

    // A new combination: the old session is closed and its presses no longer count.
    HotKey::shared().rebind(0, 0x200);
    ASSERT_TRUE(waitFor([&] { return backend.isBound() && portal.bound.size() == 2; }));
    EXPECT_TRUE(portal.bound[1].endsWith(QStringLiteral(" SHIFT+a")));
    EXPECT_EQ(portal.sessions.closed, QStringList {portal.bound[0].section(u' ', 0, 0)});
    EXPECT_EQ(pressesAfter(0), 0);
    EXPECT_EQ(pressesAfter(1), 1);

    // A declined combination never fires.
    portal.refuseBind = true;
    HotKey::shared().rebind(1, 0x200);
    ASSERT_TRUE(waitFor([&] { return portal.bound.size() == 3; }));
    spin(100);
    EXPECT_FALSE(backend.isBound());
    EXPECT_EQ(pressesAfter(2), 0);

    portalBus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    EXPECT_FALSE(availableOn(appBus));
    EXPECT_FALSE(availableOn(QDBusConnection(QStringLiteral("not-connected"))));
    portalBus.unregisterObject(PortalStandIn::path, QDBusConnection::UnregisterTree);
}

#include "PortalGlobalShortcutsTest.moc"
