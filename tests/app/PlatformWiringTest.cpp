// The platform's services reach the shared services, and the log names the display backend.
#include "app/PlatformWiring.h"
#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "platform/NoDisplayServices.h"
#include "platform/Platform.h"
#include "system/EventLog.h"

#include "FakeBacklight.h"
#include "FakeDisplayServices.h"
#include "FakeHotKeyService.h"
#include "FakeProcessLauncher.h"
#include "FakeRunningApplications.h"
#include "RecordingDDCTransport.h"

#include <gtest/gtest.h>

namespace {

struct FakePlatform : Platform, SleepWatcher, ArchiveExtractor, Installer {
    FakePlatform(DisplayServices& displays, const char* backend) : displays_(displays), backend_(backend) {}
    DisplayServices& displays() override { return displays_; }
    std::string displayBackend() const override { return backend_; }
    HotKeyService& hotKeys() override { return hotKeys_; }
    SleepWatcher& sleepWatcher() override { return *this; }
    RunningApplications& runningApplications() override { return apps_; }
    const Backlight& backlight() override { return functions_; }
    DDCTransport& ddcTransport() override { return ddc_; }
    ArchiveExtractor& archiveExtractor() override { return *this; }
    ProcessLauncher& processLauncher() override { return launcher_; }
    Installer& installer() override { return *this; }
    void onTerminationRequest(std::function<void()>) override {}
    void setOnWake(std::function<void()>) override {}
    bool extract(const QString&, const QString&) override { return false; }
    bool install(const QByteArray&, const QString&) override { return false; }
    DisplayServices& displays_;
    std::string backend_;
    FakeHotKeyService hotKeys_;
    FakeRunningApplications apps_;
    FakeBacklight backlight_;
    Backlight functions_ = backlight_.functions();
    RecordingDDCTransport ddc_;
    FakeProcessLauncher launcher_;
};

}  // namespace

// PWM-safe needs gamma tables that reach the screen (an external monitor answers DDC/CI in every case).
TEST(PlatformWiringTest, TheLogNamesTheBackendAndPwmSafeNeedsTables)
{
    FakeDisplayServices two, one;
    for (auto [displays, id] : {std::pair {&two, 1}, {&two, 2}, {&one, 7}})
        displays->addDisplay(id);
    NoDisplayServices none;
    const struct { DisplayServices* displays; const char *backend, *line; bool pwmSafe; } cases[] = {
        {&two, "x11 randr", "display: x11 randr (2 outputs)", true},
        {&one, "wayland wlr-gamma-control", "display: wayland wlr-gamma-control (1 output)", true},
        {&none, "none (Xwayland)", "display: none (Xwayland)", false}};
    for (const auto& c : cases) {
        FakePlatform platform(*c.displays, c.backend);
        PlatformWiring wiring(platform);
        EXPECT_EQ(VeskEngine::shared().displayServices(), c.displays);
        EXPECT_EQ(std::pair(EventLog::shared().dump().endsWith(QString::fromLatin1(c.line)), PWMSafe::shared().available()),
            std::pair(true, c.pwmSafe)) << c.line;
    }
    EXPECT_EQ(VeskEngine::shared().displayServices(), nullptr);
}
