#pragma once
// A stand-in for systemd-logind's session object: records SetBrightness calls and, like
// logind, applies them to the device (here: the fake sysfs tree), or refuses them.

#include "TestFiles.h"

#include <QDBusContext>
#include <QDBusMessage>

class LogindStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")

public:
    explicit LogindStandIn(QString backlightRoot) : root_(std::move(backlightRoot)) {}
    QStringList calls;  // "<object path> <subsystem> <name> <value>"
    bool refuse = false;

public slots:
    void SetBrightness(const QString& subsystem, const QString& name, uint value)
    {
        calls << QStringLiteral("%1 %2 %3 %4").arg(message().path(), subsystem, name).arg(value);
        if (refuse)
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not in an active session"));
        else
            writeFile(root_ + u'/' + name + QStringLiteral("/actual_brightness"), QByteArray::number(value) + '\n');
    }

private:
    QString root_;
};
