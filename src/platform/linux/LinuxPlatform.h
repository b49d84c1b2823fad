#pragma once
// The Linux/X11 backends of the platform interfaces, built together for the application.
// Free of X11 headers so that the application entry can include it.

#include "platform/Backlight.h"
#include "platform/DDCTransport.h"
#include "platform/DisplayServices.h"
#include "platform/HotKeyService.h"
#include "platform/RunningApplications.h"
#include "platform/SleepWatcher.h"

#include <functional>
#include <memory>

class LinuxPlatform {
public:
    // Absent when there is no X display to talk to.
    static std::unique_ptr<LinuxPlatform> create();
    // Whether an X display can be opened at all (checked before the toolkit starts).
    static bool displayReachable();
    ~LinuxPlatform();

    DisplayServices& displays();
    HotKeyService& hotKeys();
    SleepWatcher& sleepWatcher();
    RunningApplications& runningApplications();
    // The built-in panel's backlight (/sys/class/backlight, logind).
    const Backlight& backlight();
    // DDC/CI to external monitors over i2c-dev.
    DDCTransport& ddcTransport();
    // SIGINT, SIGTERM and SIGHUP arrive here on the main thread.
    void onTerminationRequest(std::function<void()> handler);

private:
    struct Parts;
    explicit LinuxPlatform(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};
