// Ambrano: a tray utility that takes blue light off every display.

#include "app/AppDelegate.h"
#include "brightness/DDC.h"
#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "online/Updater.h"
#include "platform/linux/BundleSwapInstaller.h"
#include "platform/linux/DetachedProcessLauncher.h"
#include "platform/linux/LibArchiveExtractor.h"
#include "platform/linux/LinuxPlatform.h"
#include "system/ConflictDetector.h"
#include "system/HotKey.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    // Gamma ramps and key grabs are X11's; so is the window system we talk to.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qgetenv("QT_QPA_PLATFORM") == "xcb") {
        std::fprintf(stderr, "ambrano: no X display to run on (DISPLAY is not set)\n");
        return 1;
    }
    if (!LinuxPlatform::displayReachable()) {
        std::fprintf(stderr, "ambrano: cannot open the X display %s\n", qgetenv("DISPLAY").constData());
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

    std::unique_ptr<LinuxPlatform> platform = LinuxPlatform::create();
    if (!platform) {
        std::fprintf(stderr, "ambrano: cannot open the X display\n");
        return 1;
    }
    VeskEngine::shared().setDisplayServices(&platform->displays());
    HotKey::shared().setService(&platform->hotKeys());
    ConflictDetector::setRunningApplications(&platform->runningApplications());
    DDC::shared().setTransport(&platform->ddcTransport());
    PWMSafe::shared().setDisplayServices(&platform->displays());
    PWMSafe::shared().setBacklight(platform->backlight());
    LibArchiveExtractor archiveExtractor;
    DetachedProcessLauncher processLauncher;
    BundleSwapInstaller installer(archiveExtractor, processLauncher);
    Updater::shared().setInstaller(&installer);

    int status = 0;
    {
        AppDelegate delegate(&platform->sleepWatcher());
        platform->onTerminationRequest([&delegate] { delegate.quit(); });
        QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
        status = QApplication::exec();
    }

    // The services outlive main; the backends do not. The controller's setters wait for
    // anything still running on its worker (quitting has already restored the hardware);
    // an installation under way finishes first.
    Updater::shared().waitForBackgroundWork();
    Updater::shared().setInstaller(nullptr);
    PWMSafe::shared().setBacklight({});
    PWMSafe::shared().setDisplayServices(nullptr);
    DDC::shared().setTransport(nullptr);
    VeskEngine::shared().setDisplayServices(nullptr);
    HotKey::shared().setService(nullptr);
    ConflictDetector::setRunningApplications(nullptr);
    return status;
}
