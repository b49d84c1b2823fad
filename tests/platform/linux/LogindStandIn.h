#pragma once
// A stand-in for systemd-logind's session object: records SetBrightness calls and, like
// logind, applies them to the device (here: the fake sysfs tree), or refuses them.

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

class LogindStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")

public:
    struct Call {
        QString subsystem;
        QString name;
        uint value = 0;
        QString path;
    };

    explicit LogindStandIn(QString backlightRoot)
        : root_(std::move(backlightRoot))
    {
    }

    QList<Call> calls;
    bool refuse = false;

public slots:
    void SetBrightness(const QString& subsystem, const QString& name, uint value)
    {
        calls.append({subsystem, name, value, message().path()});
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not in an active session"));
            return;
        }
        QFile f(root_ + QLatin1Char('/') + name + QStringLiteral("/actual_brightness"));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(QByteArray::number(value) + '\n');
    }

private:
    QString root_;
};
