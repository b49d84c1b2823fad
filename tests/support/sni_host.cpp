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
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");
QDBusConnection bus() { return QDBusConnection::sessionBus(); }

// A registered item is "service" (Qt's way) or "service/path".
std::pair<QString, QString> servicePath(const QString& item)
{
    const qsizetype slash = item.indexOf('/');
    return slash < 0 ? std::pair {item, QStringLiteral("/StatusNotifierItem")} : std::pair {item.left(slash), item.mid(slash)};
}

QDBusMessage getProperty(const QString& item, const QString& name)
{
    const auto [service, path] = servicePath(item);
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    return get << kItem << name;
}

QVariant itemProperty(const QString& item, const QString& name)
{
    return bus().call(getProperty(item, name)).arguments().value(0).value<QDBusVariant>().variant();
}

class Watcher : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit Watcher(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items;
    int fetches = 0;

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        // Qt sends its bus name; others send an object path on the caller's connection.
        const QString item = service.startsWith('/') ? message.service() + service : service;
        items << item;
        std::printf("item %s\n", qPrintable(item));
        std::fflush(stdout);
        const auto [itemService, path] = servicePath(item);
        bus().connect(itemService, path, kItem, QStringLiteral("NewIcon"), this, SLOT(fetchIcon()));
        emit StatusNotifierItemRegistered(item);
        fetchIcon();
    }
    void RegisterStatusNotifierHost(const QString&) {}

private slots:
    void fetchIcon()
    {
        auto* pending = new QDBusPendingCallWatcher(bus().asyncCall(getProperty(items.last(), QStringLiteral("IconPixmap"))), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            fetches += !call->isError();
            call->deleteLater();
        });
    }

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();
};

int serve(QCoreApplication& app)
{
    QObject root;
    auto* watcher = new Watcher(&root);
    if (!bus().registerObject(QStringLiteral("/StatusNotifierWatcher"), &root, QDBusConnection::ExportAdaptors)
        || !bus().registerService(QStringLiteral("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid()))
        || !bus().registerService(kWatcher)) {
        std::fprintf(stderr, "sni_host: cannot own %s\n", qPrintable(kWatcher));
        return 1;
    }
    // SIGTERM ends the loop through a socket, so the count is printed from the main thread.
    static int stop[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, stop) != 0)
        return 1;
    std::signal(SIGTERM, [](int) { (void)!write(stop[1], "x", 1); });
    QSocketNotifier notifier(stop[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::printf("ready\n");
    std::fflush(stdout);
    const int status = QCoreApplication::exec();
    std::printf("fetched %d icons\n", watcher->fetches);
    return status;
}

// Walks the top level of the exported menu: GetLayout's (ia{sv}av) tree.
template <typename Visit> bool forEachMenuEntry(const QString& item, Visit visit)
{
    const auto [service, path] = servicePath(item);
    const QString menuPath = itemProperty(item, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    QDBusInterface menu(service, menuPath, QStringLiteral("com.canonical.dbusmenu"), bus());
    const QDBusMessage reply = menu.call(QStringLiteral("GetLayout"), 0, -1, QStringList());
    if (reply.arguments().size() < 2)
        return false;
    const QDBusArgument root = reply.arguments().at(1).value<QDBusArgument>();
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument node = child.variant().value<QDBusArgument>();
        node.beginStructure();
        node >> id >> properties;
        node.endStructure();
        if (properties.value(QStringLiteral("visible"), true).toBool())
            visit(menu, id, properties.value(QStringLiteral("type")) == QStringLiteral("separator") ? QStringLiteral("-")
                                                                                             : properties.value(QStringLiteral("label")).toString());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (!bus().isConnected()) {
        std::fprintf(stderr, "sni_host: no session bus\n");
        return 1;
    }
    if (args.isEmpty())
        return serve(app);

    QDBusInterface watcher(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher, bus());
    const QString item = watcher.property("RegisteredStatusNotifierItems").toStringList().value(0);
    if (item.isEmpty()) {
        std::fprintf(stderr, "sni_host: no item registered\n");
        return 1;
    }
    const QString verb = args.first();
    if ((verb == QStringLiteral("activate") || verb == QStringLiteral("contextmenu")) && args.size() == 3) {
        const auto [service, path] = servicePath(item);
        QDBusInterface sni(service, path, kItem, bus());
        const QString method = verb == QStringLiteral("activate") ? QStringLiteral("Activate") : QStringLiteral("ContextMenu");
        return sni.call(method, args[1].toInt(), args[2].toInt()).type() == QDBusMessage::ReplyMessage ? 0 : 1;
    }
    if (verb == QStringLiteral("menu"))
        return forEachMenuEntry(item, [](QDBusInterface&, int, const QString& label) { std::printf("%s\n", qPrintable(label)); }) ? 0 : 1;
    if (verb == QStringLiteral("click") && args.size() == 2) {
        bool clicked = false;
        forEachMenuEntry(item, [&](QDBusInterface& menu, int id, const QString& label) {
            if (label == args[1] && !clicked)
                clicked = menu.call(QStringLiteral("Event"), id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u).type()
                    == QDBusMessage::ReplyMessage;
        });
        return clicked ? 0 : 1;
    }
    if (verb == QStringLiteral("icon")) {
        // a(iiay): the largest image's bytes.
        const QDBusArgument images = itemProperty(item, QStringLiteral("IconPixmap")).value<QDBusArgument>();
        QByteArray largest;
        int largestWidth = 0, width = 0, height = 0;
        images.beginArray();
        while (!images.atEnd()) {
            QByteArray bytes;
            images.beginStructure();
            images >> width >> height >> bytes;
            images.endStructure();
            if (width > largestWidth)
                largestWidth = width, largest = bytes;
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
