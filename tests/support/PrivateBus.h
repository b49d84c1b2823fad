#pragma once
// One private dbus-daemon for the whole test process: it ends with the process. Stand-ins
// connect to it under their own connection names, the code under test under its own.

#include "support/TestEnvironment.h"

#include <QProcess>
#include <QString>

#include <sys/prctl.h>

#include <csignal>

namespace PrivateBus {

// The daemon's address; empty when it cannot start (package dbus missing).
inline QString address()
{
    static QProcess* daemon = nullptr;
    static QString address;
    if (daemon)
        return address;
    daemon = new QProcess;
    daemon->setProgram(QStringLiteral("dbus-daemon"));
    daemon->setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    daemon->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    daemon->start();
    if (daemon->waitForStarted(5000) && waitFor([] { return daemon->canReadLine(); }, 5000))
        address = QString::fromUtf8(daemon->readLine().trimmed());
    return address;
}

}  // namespace PrivateBus
