// Ambrano: a tray utility that takes blue light off every display.

#include "app/AppDelegate.h"
#include "app/PlatformWiring.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    // Windows go where the session's display server is; the filter's backend is chosen
    // apart from that (an X11 window may well sit on Xwayland while Wayland takes the gamma).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "wayland" : "xcb");
    if (const std::string why = Platform::unreachableReason(qgetenv("QT_QPA_PLATFORM").toStdString()); !why.empty()) {
        std::fprintf(stderr, "ambrano: %s\n", why.c_str());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ambrano"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ambrano"));
    QApplication::setApplicationVersion(QStringLiteral(AMBRANO_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtimeDir.isEmpty())
        runtimeDir = QDir::tempPath();
    QLockFile instanceLock(runtimeDir + QStringLiteral("/ambrano.lock"));
    instanceLock.setStaleLockTime(0);  // a lock left by a killed process is taken over
    if (!instanceLock.tryLock(0)) {
        std::fprintf(stderr, "ambrano: already running\n");
        return 0;
    }

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
        QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
        status = QApplication::exec();
    }
    return status;
}
