// A stand-in StatusNotifier watcher and host on the session bus, for bench/soak.sh: it owns
// org.kde.StatusNotifierWatcher with a host registered (so Qt shows its tray icon as a
// StatusNotifierItem), and like a panel's host it reads the item's IconPixmap on every NewIcon.
//   sni_host                 serve until terminated; prints how many icons it fetched
//   sni_host activate X Y    asks the registered item to Activate at X, Y (a left click)
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusVariant>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

int stopPipe[2];

}  // namespace

class Watcher : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    explicit Watcher(QObject* parent) : QDBusAbstractAdaptor(parent) {}

    QStringList items() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    int fetches = 0;

public slots:
    void RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& message)
    {
        // Qt passes its own service name; some items pass only an object path.
        const QString service = serviceOrPath.startsWith(QLatin1Char('/')) ? message.service() : serviceOrPath;
        const QString path = serviceOrPath.startsWith(QLatin1Char('/')) ? serviceOrPath : QStringLiteral("/StatusNotifierItem");
        items_.append(service + path);
        std::fprintf(stderr, "sni_host: item %s%s\n", qPrintable(service), qPrintable(path));
        QDBusConnection::sessionBus().connect(service, path, kItemInterface, QStringLiteral("NewIcon"), this,
            SLOT(fetchIcon()));
        emit StatusNotifierItemRegistered(service + path);
        fetchIcon();
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierHostRegistered();

private slots:
    void fetchIcon()
    {
        if (items_.isEmpty())
            return;
        const QString item = items_.last();
        const qsizetype slash = item.indexOf(QLatin1Char('/'));
        QDBusMessage get = QDBusMessage::createMethodCall(item.left(slash), item.mid(slash),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << kItemInterface << QStringLiteral("IconPixmap");
        auto* pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
            if (!call->isError())
                ++fetches;
            call->deleteLater();
        });
    }

private:
    QStringList items_;
};

int activate(int x, int y)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("RegisteredStatusNotifierItems");
    const QDBusReply<QDBusVariant> reply = bus.call(get);
    const QStringList items = reply.isValid() ? reply.value().variant().toStringList() : QStringList();
    if (items.isEmpty()) {
        std::fprintf(stderr, "sni_host: no item registered\n");
        return 1;
    }
    const QString item = items.last();
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    QDBusMessage call = QDBusMessage::createMethodCall(item.left(slash), item.mid(slash), kItemInterface,
        QStringLiteral("Activate"));
    call << x << y;
    const QDBusMessage answer = bus.call(call);
    return answer.type() == QDBusMessage::ErrorMessage ? 1 : 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "activate") == 0)
        return activate(atoi(argv[2]), atoi(argv[3]));
    if (argc != 1) {
        std::fprintf(stderr, "usage: sni_host [activate X Y]\n");
        return 2;
    }
    QObject root;
    auto* watcher = new Watcher(&root);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &root)
        || !bus.registerService(kWatcher)) {
        std::fprintf(stderr, "sni_host: cannot own %s\n", qPrintable(kWatcher));
        return 1;
    }
    // SIGTERM ends the loop normally, so the count below is printed.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, stopPipe) != 0)
        return 1;
    std::signal(SIGTERM, [](int) { [[maybe_unused]] auto n = ::write(stopPipe[0], "x", 1); });
    QSocketNotifier stop(stopPipe[1], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::printf("ready\n");
    std::fflush(stdout);
    app.exec();
    std::printf("sni_host: fetched %d icons\n", watcher->fetches);
    return 0;
}

#include "sni_host.moc"
