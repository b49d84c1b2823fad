#pragma once
// The macOS backends of the platform interfaces, built together for the application.
// Free of system headers so that the application entry can include it.

#include "platform/Platform.h"

#include <memory>

class MacPlatform : public Platform {
public:
    // The installer unpacks updates with extractor and starts its swap script with launcher.
    MacPlatform(ArchiveExtractor& extractor, ProcessLauncher& launcher);
    ~MacPlatform() override;

    DisplayServices& displays() override;
    std::string displayBackend() const override { return "quartz"; }
    HotKeyService& hotKeys() override;
    SleepWatcher& sleepWatcher() override;
    RunningApplications& runningApplications() override;
    // The built-in panel's backlight (DisplayServices framework).
    const Backlight& backlight() override;
    // DDC/CI to external monitors through IOAVService.
    DDCTransport& ddcTransport() override;
    ArchiveExtractor& archiveExtractor() override;
    ProcessLauncher& processLauncher() override;
    // Swaps in an update's bundle after we quit.
    Installer& installer() override;
    void onTerminationRequest(std::function<void()> handler) override;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};
