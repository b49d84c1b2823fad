// A stand-in for logind on a private bus: owns org.freedesktop.login1 and, when asked,
// emits Manager.PrepareForSleep(start). Usage: fake_logind sleep|wake  (bus from
// DBUS_SYSTEM_BUS_ADDRESS, as the app reads it).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fake_logind sleep|wake\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "fake_logind: cannot own org.freedesktop.login1\n");
        return 1;
    }
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
    signal << (qstrcmp(argv[1], "sleep") == 0);
    bus.send(signal);
    bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));  // flushes the signal
    return 0;
}
