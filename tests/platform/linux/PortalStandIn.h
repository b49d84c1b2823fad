#pragma once
// A stand-in for the desktop portal's GlobalShortcuts interface on a private bus: it answers
// CreateSession and BindShortcuts the way xdg-desktop-portal does (a request handle at once,
// the Response signal on it a moment later), records what was bound and closed, and emits
// Activated when a test presses the shortcut.

#include "platform/linux/PortalGlobalShortcuts.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTimer>

// Every session object: Close is all the backend calls there.
class PortalSessionStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

public:
    QStringList closed;

public slots:
    void Close() { closed << message().path(); }
};

class PortalStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    explicit PortalStandIn(QDBusConnection bus) : bus_(std::move(bus))
    {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
    }
    uint version() const { return 1; }

    QStringList bound;  // "<session> <trigger>", one per BindShortcuts
    PortalSessionStandIn sessions;
    bool refuseBind = false;  // the user declines in the desktop's dialog

    void press(const QString& session, const QString& id = QStringLiteral("toggle"))
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0) << QVariantMap();
        bus_.send(signal);
    }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options)
    {
        const QString session = path + QStringLiteral("/session/") + sender() + u'/' + options.value(QStringLiteral("session_handle_token")).toString();
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
    QString sender() const { return message().service().mid(1).replace(u'.', u'_'); }
    QDBusObjectPath respond(const QVariantMap& options, uint code, const QVariantMap& results)
    {
        const QString request = path + QStringLiteral("/request/") + sender() + u'/' + options.value(QStringLiteral("handle_token")).toString();
        QTimer::singleShot(0, this, [this, request, code, results] {
            QDBusMessage response = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            response << code << results;
            bus_.send(response);
        });
        return QDBusObjectPath(request);
    }
    QDBusConnection bus_;
};
