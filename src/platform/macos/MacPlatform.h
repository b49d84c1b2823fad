#pragma once
// The macOS backends of the platform interfaces, built together for the application.
// Free of system headers so that the application entry can include it.

#include "platform/Backlight.h"
#include "platform/DDCTransport.h"
#include "platform/DisplayServices.h"
#include "platform/HotKeyService.h"
#include "platform/RunningApplications.h"
#include "platform/SleepWatcher.h"

#include <memory>

class ArchiveExtractor;
class Installer;
class ProcessLauncher;

class MacPlatform {
public:
    // The installer unpacks updates with extractor and starts its swap script with launcher.
    MacPlatform(ArchiveExtractor& extractor, ProcessLauncher& launcher);
    ~MacPlatform();

    DisplayServices& displays();
    HotKeyService& hotKeys();
    SleepWatcher& sleepWatcher();
    RunningApplications& runningApplications();
    // The built-in panel's backlight (DisplayServices framework).
    const Backlight& backlight();
    // DDC/CI to external monitors through IOAVService.
    DDCTransport& ddcTransport();
    // Swaps in an update's bundle after we quit.
    Installer& installer();

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};
