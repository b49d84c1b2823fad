// Ambrano: a tray utility that takes blue light off every display.

#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/PlatformWiring.h"
#include "app/RemoteControl.h"
#include "platform/Platform.h"
#include "platform/linux/UnixLocalOwner.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    // Help, version and control of the running copy need no display server.
    UnixLocalOwner localOwner;
    const CommandLine::Invocation invocation = CommandLine::parse(argc, argv);
    if (invocation.kind != CommandLine::Invocation::Kind::run)
        return CommandLine::runWithoutDisplay(invocation, localOwner, argc, argv);

    // Windows go where the session's display server is; the filter's backend is chosen
    // apart from that (an X11 window may well sit on Xwayland while Wayland takes the gamma).
#ifndef Q_OS_MACOS
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "wayland" : "xcb");
#endif
    if (const std::string why = Platform::unreachableReason(qgetenv("QT_QPA_PLATFORM").toStdString()); !why.empty()) {
        std::fprintf(stderr, "ambrano: %s\n", why.c_str());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ambrano"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ambrano"));
    QApplication::setApplicationVersion(QStringLiteral(AMBRANO_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    const QString runtimeDir = RemoteControl::runtimeFolder();
    // Made before the lock so that it goes after it: `--quit` returns once the lock is free.
    RemoteControl remoteControl(localOwner);
    QLockFile instanceLock(runtimeDir + QStringLiteral("/ambrano.lock"));
    instanceLock.setStaleLockTime(0);  // a lock left by a killed process is taken over
    if (!instanceLock.tryLock(0)) {
        std::fprintf(stderr, "ambrano: already running\n");
        return 0;
    }
    remoteControl.listen(runtimeDir);

    std::unique_ptr<Platform> platform = Platform::create();
    if (!platform) {
        std::fprintf(stderr, "ambrano: cannot reach the display server\n");
        return 1;
    }
    PlatformWiring wiring(*platform);

    int status = 0;
    {
        AppDelegate delegate(&platform->sleepWatcher());
        platform->onTerminationRequest([&delegate] { delegate.quit(); });
        remoteControl.onQuit = [&delegate] { delegate.quit(); };
        QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
        status = QApplication::exec();
        remoteControl.onQuit = nullptr;
    }
    return status;
}
