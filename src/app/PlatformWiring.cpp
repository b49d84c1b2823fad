#include "app/PlatformWiring.h"

#include "brightness/DDC.h"
#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "online/Updater.h"
#include "platform/Platform.h"
#include "system/ConflictDetector.h"
#include "system/EventLog.h"
#include "system/HotKey.h"

#include <cstdio>

QString PlatformWiring::displayLine(Platform& platform)
{
    QString line = QStringLiteral("display: ") + QString::fromStdString(platform.displayBackend());
    const std::vector<DisplayID> displays = platform.displays().activeDisplays();
    if (!(displays.size() == 1 && displays.front() == sessionDisplay))
        line += QStringLiteral(" (%1 output%2)").arg(displays.size()).arg(displays.size() == 1 ? "" : "s");
    return line;
}

PlatformWiring::PlatformWiring(Platform& platform)
{
    VeskEngine::shared().setDisplayServices(&platform.displays());
    HotKey::shared().setService(&platform.hotKeys());
    ConflictDetector::setRunningApplications(&platform.runningApplications());
    DDC::shared().setTransport(&platform.ddcTransport());
    PWMSafe::shared().setDisplayServices(&platform.displays());
    PWMSafe::shared().setBacklight(platform.backlight());
    Updater::shared().setInstallServices(&platform.archiveExtractor(), &platform.processLauncher());

    const QString line = displayLine(platform);
    EventLog::shared().add(line);
    std::fprintf(stderr, "ambrano: %s\n", qPrintable(line));
}

// The setters wait for anything still running on the services' workers (quitting has already
// restored the hardware); an installation under way finishes first.
PlatformWiring::~PlatformWiring()
{
    Updater::shared().waitForBackgroundWork();
    Updater::shared().setInstallServices(nullptr, nullptr);
    PWMSafe::shared().setBacklight({});
    PWMSafe::shared().setDisplayServices(nullptr);
    DDC::shared().setTransport(nullptr);
    VeskEngine::shared().setDisplayServices(nullptr);
    HotKey::shared().setService(nullptr);
    ConflictDetector::setRunningApplications(nullptr);
}
