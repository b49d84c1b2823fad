#include "platform/linux/LinuxPlatform.h"

#include "platform/NoDisplayServices.h"
#include "platform/NoHotKeys.h"
#include "platform/linux/BundleSwapInstaller.h"
#include "platform/linux/DetachedProcessLauncher.h"
#include "platform/linux/I2CDevTransport.h"
#include "platform/linux/LibArchiveExtractor.h"
#include "platform/linux/LogindSleepWatcher.h"
#include "platform/linux/PortalGlobalShortcuts.h"
#include "platform/linux/ProcRunningApplications.h"
#include "platform/linux/SysfsBacklight.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/WlrGammaDisplays.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11DisplayServices.h"
#include "platform/linux/X11HotKeys.h"
#include "platform/linux/X11Xwayland.h"

#include <wayland-client.h>
#include <X11/Xlib.h>

#include <cstdlib>

struct LinuxPlatform::Parts {
    std::unique_ptr<X11Connection> x11;
    std::unique_ptr<DisplayServices> displays;
    std::string displayBackend;
    std::unique_ptr<HotKeyService> hotKeys;
    std::unique_ptr<LogindSleepWatcher> sleepWatcher;
    std::unique_ptr<TerminationSignals> terminationSignals;
    std::unique_ptr<ProcRunningApplications> runningApplications;
    std::unique_ptr<SysfsBacklight> backlight;
    std::unique_ptr<I2CDevTransport> ddcTransport;
    std::unique_ptr<LibArchiveExtractor> archiveExtractor;
    std::unique_ptr<DetachedProcessLauncher> processLauncher;
    std::unique_ptr<BundleSwapInstaller> installer;
};

namespace {

// One display backend: the displays it takes, or nothing and (when worth saying) why not.
struct DisplayBackend {
    const char* name;
    std::unique_ptr<DisplayServices> (*start)(LinuxPlatform::Parts& parts, std::string& whyNot);
};

std::unique_ptr<DisplayServices> startRandr(LinuxPlatform::Parts& parts, std::string& whyNot)
{
    if (!parts.x11)
        return nullptr;
    if (isXwayland(*parts.x11)) {
        whyNot = "Xwayland: the compositor ignores X11 gamma";
        return nullptr;
    }
    return std::make_unique<X11DisplayServices>(*parts.x11, X11DisplayServices::defaultBackupFolder());
}

std::unique_ptr<DisplayServices> startWlrGamma(LinuxPlatform::Parts&, std::string& whyNot)
{
    return WlrGammaDisplays::connect(whyNot);
}

// In order: the first that takes the displays is used.
constexpr DisplayBackend displayBackends[] = {
    {"x11 randr", startRandr},
    {"wayland wlr-gamma-control", startWlrGamma},
};

bool waylandReachable()
{
    wl_display* display = wl_display_connect(nullptr);
    if (display)
        wl_display_disconnect(display);
    return display != nullptr;
}

bool x11Reachable()
{
    Display* display = XOpenDisplay(nullptr);
    if (display)
        XCloseDisplay(display);
    return display != nullptr;
}

}  // namespace

std::string Platform::unreachableReason(const std::string& qtPlatform)
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland))
        return "no display to run on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    if (qtPlatform == "xcb" && !x11Reachable())
        return std::string("cannot open the X display ") + (x11 ? x11 : "");
    if (qtPlatform == "wayland" && !waylandReachable())
        return std::string("cannot connect to the Wayland display ") + (wayland ? wayland : "");
    if (!x11Reachable() && !waylandReachable())
        return "cannot reach the X or Wayland display";
    return {};
}

std::unique_ptr<Platform> Platform::create()
{
    auto parts = std::make_unique<LinuxPlatform::Parts>();
    parts->x11 = X11Connection::open();

    std::string whyNone;
    for (const DisplayBackend& backend : displayBackends) {
        std::string whyNot;
        parts->displays = backend.start(*parts, whyNot);
        if (parts->displays) {
            parts->displayBackend = backend.name;
            break;
        }
        if (!whyNot.empty())
            whyNone += (whyNone.empty() ? "" : "; ") + whyNot;
    }
    if (!parts->displays) {
        if (!parts->x11 && !waylandReachable())
            return nullptr;
        parts->displays = std::make_unique<NoDisplayServices>();
        parts->displayBackend = "none (" + (whyNone.empty() ? std::string("no gamma control in this session") : whyNone) + ")";
    }

    // Shortcuts: X grabs on a real X server; elsewhere the desktop portal, as Xwayland's grabs
    // see only X programs' keys; those grabs when nothing better is offered.
    if (parts->x11 && !isXwayland(*parts->x11))
        parts->hotKeys = std::make_unique<X11HotKeys>(*parts->x11);
    else if (PortalGlobalShortcuts::available())
        parts->hotKeys = std::make_unique<PortalGlobalShortcuts>();
    else if (parts->x11)
        parts->hotKeys = std::make_unique<X11HotKeys>(*parts->x11);
    else
        parts->hotKeys = std::make_unique<NoHotKeys>();
    parts->sleepWatcher = std::make_unique<LogindSleepWatcher>();
    parts->runningApplications = std::make_unique<ProcRunningApplications>();
    parts->backlight = std::make_unique<SysfsBacklight>();
    parts->ddcTransport = std::make_unique<I2CDevTransport>();
    parts->archiveExtractor = std::make_unique<LibArchiveExtractor>();
    parts->processLauncher = std::make_unique<DetachedProcessLauncher>();
    parts->installer = std::make_unique<BundleSwapInstaller>(*parts->archiveExtractor, *parts->processLauncher);
    return std::unique_ptr<Platform>(new LinuxPlatform(std::move(parts)));
}

LinuxPlatform::LinuxPlatform(std::unique_ptr<Parts> parts)
    : parts_(std::move(parts))
{
}

LinuxPlatform::~LinuxPlatform() = default;

DisplayServices& LinuxPlatform::displays() { return *parts_->displays; }
std::string LinuxPlatform::displayBackend() const { return parts_->displayBackend; }
HotKeyService& LinuxPlatform::hotKeys() { return *parts_->hotKeys; }
SleepWatcher& LinuxPlatform::sleepWatcher() { return *parts_->sleepWatcher; }
RunningApplications& LinuxPlatform::runningApplications() { return *parts_->runningApplications; }
const Backlight& LinuxPlatform::backlight() { return parts_->backlight->functions(); }
DDCTransport& LinuxPlatform::ddcTransport() { return *parts_->ddcTransport; }
ArchiveExtractor& LinuxPlatform::archiveExtractor() { return *parts_->archiveExtractor; }
ProcessLauncher& LinuxPlatform::processLauncher() { return *parts_->processLauncher; }
Installer& LinuxPlatform::installer() { return *parts_->installer; }

void LinuxPlatform::onTerminationRequest(std::function<void()> handler)
{
    parts_->terminationSignals = std::make_unique<TerminationSignals>([handler = std::move(handler)](int) { handler(); });
}
