#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/I2CDevTransport.h"
#include "platform/linux/LogindSleepWatcher.h"
#include "platform/linux/ProcRunningApplications.h"
#include "platform/linux/SysfsBacklight.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11DisplayServices.h"
#include "platform/linux/X11HotKeys.h"

#include <X11/Xlib.h>

struct LinuxPlatform::Parts {
    std::unique_ptr<X11Connection> connection;
    std::unique_ptr<X11DisplayServices> displays;
    std::unique_ptr<X11HotKeys> hotKeys;
    std::unique_ptr<LogindSleepWatcher> sleepWatcher;
    std::unique_ptr<TerminationSignals> terminationSignals;
    std::unique_ptr<ProcRunningApplications> runningApplications;
    std::unique_ptr<SysfsBacklight> backlight;
    std::unique_ptr<I2CDevTransport> ddcTransport;
};

std::unique_ptr<LinuxPlatform> LinuxPlatform::create()
{
    auto parts = std::make_unique<Parts>();
    parts->connection = X11Connection::open();
    if (!parts->connection)
        return nullptr;
    parts->displays = std::make_unique<X11DisplayServices>(*parts->connection, X11DisplayServices::defaultBackupFolder());
    parts->hotKeys = std::make_unique<X11HotKeys>(*parts->connection);
    parts->sleepWatcher = std::make_unique<LogindSleepWatcher>();
    parts->runningApplications = std::make_unique<ProcRunningApplications>();
    parts->backlight = std::make_unique<SysfsBacklight>();
    parts->ddcTransport = std::make_unique<I2CDevTransport>();
    return std::unique_ptr<LinuxPlatform>(new LinuxPlatform(std::move(parts)));
}

bool LinuxPlatform::displayReachable()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

LinuxPlatform::LinuxPlatform(std::unique_ptr<Parts> parts)
    : parts_(std::move(parts))
{
}

LinuxPlatform::~LinuxPlatform() = default;

DisplayServices& LinuxPlatform::displays() { return *parts_->displays; }
HotKeyService& LinuxPlatform::hotKeys() { return *parts_->hotKeys; }
SleepWatcher& LinuxPlatform::sleepWatcher() { return *parts_->sleepWatcher; }
RunningApplications& LinuxPlatform::runningApplications() { return *parts_->runningApplications; }
const Backlight& LinuxPlatform::backlight() { return parts_->backlight->functions(); }
DDCTransport& LinuxPlatform::ddcTransport() { return *parts_->ddcTransport; }

void LinuxPlatform::onTerminationRequest(std::function<void()> handler)
{
    parts_->terminationSignals = std::make_unique<TerminationSignals>([handler = std::move(handler)](int) { handler(); });
}
