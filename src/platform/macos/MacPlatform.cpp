#include "platform/macos/MacPlatform.h"

#include "platform/macos/CarbonHotKeys.h"
#include "platform/macos/DisplayServicesBacklight.h"
#include "platform/macos/IOAVServiceTransport.h"
#include "platform/macos/IOKitSleepWatcher.h"
#include "platform/macos/LibprocRunningApplications.h"
#include "platform/macos/MacInstaller.h"
#include "platform/macos/QuartzDisplayServices.h"
#include "platform/linux/TerminationSignals.h"

struct MacPlatform::Parts {
    QuartzDisplayServices displays;
    CarbonHotKeys hotKeys;
    IOKitSleepWatcher sleepWatcher;
    LibprocRunningApplications runningApplications;
    DisplayServicesBacklight backlight;
    IOAVServiceTransport ddcTransport;
    ArchiveExtractor& extractor;
    ProcessLauncher& launcher;
    MacInstaller installer;
    std::unique_ptr<TerminationSignals> terminationSignals;

    Parts(ArchiveExtractor& extractor, ProcessLauncher& launcher)
        : extractor(extractor)
        , launcher(launcher)
        , installer(extractor, launcher)
    {
    }
};

MacPlatform::MacPlatform(ArchiveExtractor& extractor, ProcessLauncher& launcher)
    : parts_(std::make_unique<Parts>(extractor, launcher))
{
}

MacPlatform::~MacPlatform() = default;

DisplayServices& MacPlatform::displays() { return parts_->displays; }
HotKeyService& MacPlatform::hotKeys() { return parts_->hotKeys; }
SleepWatcher& MacPlatform::sleepWatcher() { return parts_->sleepWatcher; }
RunningApplications& MacPlatform::runningApplications() { return parts_->runningApplications; }
const Backlight& MacPlatform::backlight() { return parts_->backlight.functions(); }
DDCTransport& MacPlatform::ddcTransport() { return parts_->ddcTransport; }
Installer& MacPlatform::installer() { return parts_->installer; }
ArchiveExtractor& MacPlatform::archiveExtractor() { return parts_->extractor; }
ProcessLauncher& MacPlatform::processLauncher() { return parts_->launcher; }

void MacPlatform::onTerminationRequest(std::function<void()> handler)
{
    parts_->terminationSignals = std::make_unique<TerminationSignals>([handler = std::move(handler)](int) { handler(); });
}
