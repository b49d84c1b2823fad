// A stand-in StatusNotifierWatcher and host on the session bus (a private one in tests), as
// a panel such as KDE Plasma or waybar runs it: like a real host it reads the item's icon at
// registration and on every NewIcon (the soak measures the app under that). Usage:
//   sni_host                   watcher + host; prints "ready", then "item SERVICE" for each
//                              registration; on SIGTERM, "fetched N icons"
//   sni_host activate X Y      Activate(X, Y) on the first registered item (a left click)
//   sni_host contextmenu X Y   ContextMenu(X, Y) (a host that draws no menus itself)
//   sni_host menu              the item's exported menu, one "label" per line ("-" separators)
//   sni_host click LABEL       sends the menu item's "clicked" event
//   sni_host icon              a checksum of the item's largest icon pixmap
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");

class Watcher : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit Watcher(QObject* parent)
        : QDBusAbstractAdaptor(parent)
    {
    }
    QStringList items() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    int fetches = 0;

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        // Qt sends its bus name; others send an object path on the caller's connection.
        const QString item = service.startsWith('/') ? message.service() + service : service;
        items_ << item;
        std::printf("item %s\n", qPrintable(item));
        std::fflush(stdout);
        const qsizetype slash = item.indexOf('/');
        QDBusConnection::sessionBus().connect(slash < 0 ? item : item.left(slash),
            slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash), kItem, QStringLiteral("NewIcon"),
            this, SLOT(fetchIcon()));
        emit StatusNotifierItemRegistered(item);
        fetchIcon();
    }
    void RegisterStatusNotifierHost(const QString&) {}

private slots:
    void fetchIcon()
    {
        if (items_.isEmpty())
            return;
        const QString item = items_.last();
        const qsizetype slash = item.indexOf('/');
        QDBusMessage get = QDBusMessage::createMethodCall(slash < 0 ? item : item.left(slash),
            slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << kItem << QStringLiteral("IconPixmap");
        auto* pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            if (!call->isError())
                ++fetches;
            call->deleteLater();
        });
    }

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList items_;
};

// The first registered item: its bus name and object path.
bool firstItem(QDBusConnection& bus, QString& service, QString& path)
{
    QDBusInterface watcher(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher, bus);
    const QStringList items = watcher.property("RegisteredStatusNotifierItems").toStringList();
    if (items.isEmpty())
        return false;
    const QString item = items.first();
    const qsizetype slash = item.indexOf('/');
    service = slash < 0 ? item : item.left(slash);
    path = slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash);
    return true;
}

QVariant itemProperty(QDBusConnection& bus, const QString& service, const QString& path, const QString& name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kItem << name;
    const QDBusMessage reply = bus.call(get);
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

struct MenuEntry {
    int id = 0;
    QString label;
    bool separator = false;
};

// GetLayout's (ia{sv}av) tree, flattened to the top level's children.
QList<MenuEntry> readMenu(QDBusConnection& bus, const QString& service, const QString& menuPath)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = bus.call(call);
    QList<MenuEntry> entries;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return entries;
    const QDBusArgument root = reply.arguments().at(1).value<QDBusArgument>();
    int rootId = 0;
    QVariantMap rootProperties;
    root.beginStructure();
    root >> rootId >> rootProperties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument node = child.variant().value<QDBusArgument>();
        MenuEntry entry;
        QVariantMap properties;
        node.beginStructure();
        node >> entry.id >> properties;
        node.endStructure();
        entry.separator = properties.value(QStringLiteral("type")).toString() == QStringLiteral("separator");
        entry.label = properties.value(QStringLiteral("label")).toString();
        if (properties.value(QStringLiteral("visible"), true).toBool())
            entries << entry;
    }
    root.endArray();
    root.endStructure();
    return entries;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "sni_host: no session bus\n");
        return 1;
    }
    if (args.isEmpty()) {
        QObject root;
        auto* watcher = new Watcher(&root);
        if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &root, QDBusConnection::ExportAdaptors)
            || !bus.registerService(QStringLiteral("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid()))
            || !bus.registerService(kWatcher)) {
            std::fprintf(stderr, "sni_host: cannot own %s\n", qPrintable(kWatcher));
            return 1;
        }
        // SIGTERM ends the loop through a pipe, so the count is printed from the main thread.
        static int stopPipe[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, stopPipe) != 0)
            return 1;
        std::signal(SIGTERM, [](int) { (void)!write(stopPipe[1], "x", 1); });
        QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
        QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::printf("ready\n");
        std::fflush(stdout);
        const int status = QCoreApplication::exec();
        std::printf("fetched %d icons\n", watcher->fetches);
        return status;
    }

    QString service, path;
    if (!firstItem(bus, service, path)) {
        std::fprintf(stderr, "sni_host: no item registered\n");
        return 1;
    }
    const QString verb = args.first();
    if ((verb == QStringLiteral("activate") || verb == QStringLiteral("contextmenu")) && args.size() == 3) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, kItem,
            verb == QStringLiteral("activate") ? QStringLiteral("Activate") : QStringLiteral("ContextMenu"));
        call << args[1].toInt() << args[2].toInt();
        const QDBusMessage reply = bus.call(call);
        return reply.type() == QDBusMessage::ReplyMessage ? 0 : 1;
    }
    if (verb == QStringLiteral("menu") || (verb == QStringLiteral("click") && args.size() == 2)) {
        const QString menuPath = itemProperty(bus, service, path, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
        const QList<MenuEntry> entries = readMenu(bus, service, menuPath);
        for (const MenuEntry& entry : entries) {
            if (verb == QStringLiteral("menu")) {
                std::printf("%s\n", entry.separator ? "-" : qPrintable(entry.label));
            } else if (entry.label == args[1]) {
                QDBusMessage event = QDBusMessage::createMethodCall(service, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
                event << entry.id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
                return bus.call(event).type() == QDBusMessage::ReplyMessage ? 0 : 1;
            }
        }
        return verb == QStringLiteral("menu") && !entries.isEmpty() ? 0 : 1;
    }
    if (verb == QStringLiteral("icon")) {
        // a(iiay): keep the largest image's bytes.
        const QDBusArgument images = itemProperty(bus, service, path, QStringLiteral("IconPixmap")).value<QDBusArgument>();
        QByteArray largest;
        int largestWidth = 0;
        images.beginArray();
        while (!images.atEnd()) {
            int width = 0, height = 0;
            QByteArray bytes;
            images.beginStructure();
            images >> width >> height >> bytes;
            images.endStructure();
            if (width > largestWidth) {
                largestWidth = width;
                largest = bytes;
            }
        }
        images.endArray();
        if (largest.isEmpty())
            return 1;
        std::printf("%s\n", QCryptographicHash::hash(largest, QCryptographicHash::Md5).toHex().constData());
        return 0;
    }
    std::fprintf(stderr, "sni_host: unknown request\n");
    return 2;
}

#include "sni_host.moc"
