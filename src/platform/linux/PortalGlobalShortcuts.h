#pragma once
// The global shortcut through the desktop portal's GlobalShortcuts interface (KDE Plasma
// 5.27+, GNOME 48+, Hyprland), for sessions where no X grab can see the keys: a Wayland
// session, where Xwayland's grabs see only X programs. The portal works in requests
// answered later: a session is created, the shortcut bound (the desktop may ask the user),
// and each press arrives as an Activated signal.

#include "platform/HotKeyService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <optional>

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(PortalShortcut)
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

class PortalGlobalShortcuts : public QObject, public HotKeyService {
    Q_OBJECT

public:
    static constexpr int probeTimeoutMs = 1000;

    explicit PortalGlobalShortcuts(QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalGlobalShortcuts() override;

    // Whether the session's portal offers GlobalShortcuts (one short blocking question).
    static bool available(QDBusConnection bus = QDBusConnection::sessionBus());

    void installHandler(Handler onPressed) override;
    // Asks for the shortcut and answers at once; the desktop binds it a moment later (or not).
    std::optional<Ref> registerHotKey(std::uint32_t keyCode, std::uint32_t mods) override;
    void unregisterHotKey(Ref ref) override;

    // The desktop has bound the shortcut.
    bool isBound() const { return bound_; }

    // The combination in the shortcut notation the portal takes ("CTRL+ALT+LOGO+z"),
    // absent for keys without a name.
    static std::optional<QString> preferredTrigger(std::uint32_t keyCode, std::uint32_t mods);

private slots:
    void sessionCreated(uint response, const QVariantMap& results);
    void shortcutsBound(uint response, const QVariantMap& results);
    void activated(const QDBusMessage& message);

private:
    void createSession();
    void bind();
    void closeSession();
    // Where the portal will answer the request with this token.
    QString requestPath(const QString& token) const;
    QString nextToken();

    QDBusConnection bus_;
    Handler handler_;
    QString trigger_;
    QString session_;
    QString pendingRequest_;
    bool wanted_ = false;
    bool creating_ = false;
    bool bound_ = false;
    Ref nextRef_ = 1;
    int tokens_ = 0;
};
