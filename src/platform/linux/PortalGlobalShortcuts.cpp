#include "platform/linux/PortalGlobalShortcuts.h"

#include "system/KeyCodes.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>

#include <X11/Xlib.h>

#include <cstdio>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kShortcutId = QStringLiteral("toggle");

// Hot-key mask bits, in the order the shortcut notation writes them.
constexpr struct {
    std::uint32_t bit;
    const char* name;
} kModifiers[] = {{HotKeyMask::control, "CTRL"}, {HotKeyMask::option, "ALT"}, {HotKeyMask::shift, "SHIFT"},
    {HotKeyMask::command, "LOGO"}};

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus)
    : bus_(std::move(bus))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    bus_.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this, SLOT(activated(QDBusMessage)));
}

PortalGlobalShortcuts::~PortalGlobalShortcuts()
{
    closeSession();
}

bool PortalGlobalShortcuts::available(QDBusConnection bus)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    return bus.call(get, QDBus::Block, probeTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

std::optional<QString> PortalGlobalShortcuts::preferredTrigger(std::uint32_t keyCode, std::uint32_t mods)
{
    // The portal names keys by their keysym names ("z", "space", "Return", "F1").
    const std::optional<KeyCodes::Key> key = KeyCodes::byCode(keyCode);
    const char* name = key ? XKeysymToString(key->keysym) : nullptr;
    if (!name)
        return std::nullopt;
    QString trigger;
    for (const auto& modifier : kModifiers) {
        if (mods & modifier.bit)
            trigger += QString::fromLatin1(modifier.name) + QLatin1Char('+');
    }
    return trigger + QString::fromLatin1(name);
}

void PortalGlobalShortcuts::installHandler(Handler onPressed)
{
    handler_ = std::move(onPressed);
}

std::optional<HotKeyService::Ref> PortalGlobalShortcuts::registerHotKey(std::uint32_t keyCode, std::uint32_t mods)
{
    const std::optional<QString> trigger = preferredTrigger(keyCode, mods);
    if (!trigger)
        return std::nullopt;
    trigger_ = *trigger;
    wanted_ = true;
    if (!session_.isEmpty())
        bind();
    else if (!creating_)
        createSession();
    return nextRef_++;
}

void PortalGlobalShortcuts::unregisterHotKey(Ref)
{
    // A portal binds a session's shortcuts once: a new combination takes a new session.
    wanted_ = false;
    closeSession();
}

QString PortalGlobalShortcuts::nextToken()
{
    return QStringLiteral("ambrano%1").arg(++tokens_);
}

QString PortalGlobalShortcuts::requestPath(const QString& token) const
{
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void PortalGlobalShortcuts::createSession()
{
    creating_ = true;
    const QString token = nextToken();
    pendingRequest_ = requestPath(token);
    // Listen before asking: the answer may come before the call returns.
    bus_.connect(kService, pendingRequest_, kRequest, QStringLiteral("Response"), this, SLOT(sessionCreated(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CreateSession"));
    call << QVariantMap {{QStringLiteral("handle_token"), token}, {QStringLiteral("session_handle_token"), nextToken()}};
    bus_.asyncCall(call);
}

void PortalGlobalShortcuts::sessionCreated(uint response, const QVariantMap& results)
{
    bus_.disconnect(kService, pendingRequest_, kRequest, QStringLiteral("Response"), this, SLOT(sessionCreated(uint, QVariantMap)));
    creating_ = false;
    if (response != 0) {
        std::fprintf(stderr, "ambrano: the desktop portal gave no global-shortcut session\n");
        return;
    }
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    session_ = handle.canConvert<QDBusObjectPath>() && handle.userType() == qMetaTypeId<QDBusObjectPath>()
        ? handle.value<QDBusObjectPath>().path()
        : handle.toString();
    if (!wanted_)
        closeSession();
    else
        bind();
}

void PortalGlobalShortcuts::bind()
{
    const QString token = nextToken();
    pendingRequest_ = requestPath(token);
    bus_.connect(kService, pendingRequest_, kRequest, QStringLiteral("Response"), this, SLOT(shortcutsBound(uint, QVariantMap)));
    const PortalShortcut shortcut {kShortcutId,
        {{QStringLiteral("description"), QStringLiteral("Switch the blue-light filter on or off")},
            {QStringLiteral("preferred_trigger"), trigger_}}};
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(QList<PortalShortcut> {shortcut})
         << QString() << QVariantMap {{QStringLiteral("handle_token"), token}};
    bus_.asyncCall(call);
}

void PortalGlobalShortcuts::shortcutsBound(uint response, const QVariantMap&)
{
    bus_.disconnect(kService, pendingRequest_, kRequest, QStringLiteral("Response"), this, SLOT(shortcutsBound(uint, QVariantMap)));
    bound_ = response == 0 && wanted_;
    if (response != 0)
        std::fprintf(stderr, "ambrano: the desktop did not bind the global shortcut\n");
}

void PortalGlobalShortcuts::closeSession()
{
    bound_ = false;
    if (session_.isEmpty())
        return;
    bus_.asyncCall(QDBusMessage::createMethodCall(kService, session_, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
    session_.clear();
}

void PortalGlobalShortcuts::activated(const QDBusMessage& message)
{
    // (o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2)
        return;
    const QString session = arguments[0].value<QDBusObjectPath>().path();
    if (bound_ && !session.isEmpty() && session == session_ && arguments[1].toString() == kShortcutId && handler_)
        handler_();
}
