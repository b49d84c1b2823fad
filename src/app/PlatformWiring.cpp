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

namespace {

// A backend that can reach no display lists the session alone.
bool takesTables(Platform& platform)
{
    const std::vector<DisplayID> displays = platform.displays().activeDisplays();
    return !(displays.size() == 1 && displays.front() == sessionDisplay);
}

}  // namespace

QString PlatformWiring::displayLine(Platform& platform)
{
    QString line = QStringLiteral("display: ") + QString::fromStdString(platform.displayBackend());
    if (takesTables(platform)) {
        const size_t count = platform.displays().activeDisplays().size();
        line += QStringLiteral(" (%1 output%2)").arg(count).arg(count == 1 ? "" : "s");
    }
    return line;
}

PlatformWiring::PlatformWiring(Platform& platform)
{
    VeskEngine::shared().setDisplayServices(&platform.displays());
    HotKey::shared().setService(&platform.hotKeys());
    ConflictDetector::setRunningApplications(&platform.runningApplications());
    DDC::shared().setTransport(&platform.ddcTransport());
    // PWM-safe pins the hardware at full and leaves the dimming to the gamma tables: where no
    // table reaches the screen it could only make it brighter, so it is not offered there.
    PWMSafe::shared().setDisplayServices(takesTables(platform) ? &platform.displays() : nullptr);
    PWMSafe::shared().setBacklight(platform.backlight());
    Updater::shared().setInstaller(&platform.installer());

    const QString line = displayLine(platform);
    EventLog::shared().add(line);
    std::fprintf(stderr, "ambrano: %s\n", qPrintable(line));
}

// The setters wait for anything still running on the services' workers (quitting has already
// restored the hardware); an installation under way finishes first.
PlatformWiring::~PlatformWiring()
{
    Updater::shared().waitForBackgroundWork();
    Updater::shared().setInstaller(nullptr);
    PWMSafe::shared().setBacklight({});
    PWMSafe::shared().setDisplayServices(nullptr);
    DDC::shared().setTransport(nullptr);
    VeskEngine::shared().setDisplayServices(nullptr);
    HotKey::shared().setService(nullptr);
    ConflictDetector::setRunningApplications(nullptr);
}
