#pragma once
// The operating system as the application sees it: one set of services, chosen when the
// program starts from what the session offers. Backends build it; the application only wires
// its services into the logic (app/PlatformWiring).

#include "platform/ArchiveExtractor.h"
#include "platform/Backlight.h"
#include "platform/DDCTransport.h"
#include "platform/DisplayServices.h"
#include "platform/HotKeyService.h"
#include "platform/Installer.h"
#include "platform/ProcessLauncher.h"
#include "platform/RunningApplications.h"
#include "platform/SleepWatcher.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class Platform {
public:
    // Checked before the toolkit starts (it aborts without its display server): why this
    // program cannot run in this session, in a few words; empty when it can.
    static std::string unreachableReason(const std::string& qtPlatform);
    // The session's services, display backends tried in order; absent only when no display
    // server can be reached at all.
    static std::unique_ptr<Platform> create();

    virtual ~Platform() = default;

    virtual DisplayServices& displays() = 0;
    // Which display backend took the displays, and why when it is none:
    // "x11 randr", "wayland wlr-gamma-control", "none (Xwayland: the compositor ignores X11 gamma)".
    virtual std::string displayBackend() const = 0;
    virtual HotKeyService& hotKeys() = 0;
    virtual SleepWatcher& sleepWatcher() = 0;
    virtual RunningApplications& runningApplications() = 0;
    // The built-in panel's hardware brightness.
    virtual const Backlight& backlight() = 0;
    // DDC/CI to external monitors.
    virtual DDCTransport& ddcTransport() = 0;
    virtual ArchiveExtractor& archiveExtractor() = 0;
    virtual ProcessLauncher& processLauncher() = 0;
    // Puts a verified update in place of the running program.
    virtual Installer& installer() = 0;
    // Requests to end the program (signals, session end) arrive here on the main thread.
    virtual void onTerminationRequest(std::function<void()> handler) = 0;
};
