// A stand-in StatusNotifierWatcher and host on the session bus (a private one in tests), as
// a panel such as KDE Plasma or waybar runs it: like a real host it reads the item's icon at
// registration and on every NewIcon (the soak measures the app under that). It prints "ready",
// then "item SERVICE" for each registration, and on SIGTERM "fetched N icons". The host's
// requests to the item (clicks, the menu) are e2e-lib.sh's sni_* functions.
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
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
        const auto [service, path] = servicePath(items.last());
        QDBusMessage get = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        auto* pending = new QDBusPendingCallWatcher(bus().asyncCall(get << kItem << QStringLiteral("IconPixmap")), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            fetches += !call->isError();
            call->deleteLater();
        });
    }

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
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

#include "sni_host.moc"
