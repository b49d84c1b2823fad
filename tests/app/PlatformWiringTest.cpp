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

class FakePlatform : public Platform {
public:
    FakePlatform(DisplayServices& displays, std::string backend)
        : displays_(displays)
        , backend_(std::move(backend))
    {
    }
    DisplayServices& displays() override { return displays_; }
    std::string displayBackend() const override { return backend_; }
    HotKeyService& hotKeys() override { return hotKeys_; }
    SleepWatcher& sleepWatcher() override { return sleep_; }
    RunningApplications& runningApplications() override { return apps_; }
    const Backlight& backlight() override { return functions_; }
    DDCTransport& ddcTransport() override { return ddc_; }
    ArchiveExtractor& archiveExtractor() override { return extractor_; }
    ProcessLauncher& processLauncher() override { return launcher_; }
    Installer& installer() override { return installer_; }
    void onTerminationRequest(std::function<void()>) override {}

private:
    struct NoSleep : SleepWatcher {
        void setOnWake(std::function<void()>) override {}
    };
    struct NoExtractor : ArchiveExtractor {
        bool extract(const QString&, const QString&) override { return false; }
    };
    struct NoInstaller : Installer {
        bool install(const QByteArray&, const QString&) override { return false; }
    };
    DisplayServices& displays_;
    std::string backend_;
    FakeHotKeyService hotKeys_;
    NoSleep sleep_;
    FakeRunningApplications apps_;
    FakeBacklight backlight_;
    Backlight functions_ = backlight_.functions();
    RecordingDDCTransport ddc_;
    NoExtractor extractor_;
    FakeProcessLauncher launcher_;
    NoInstaller installer_;
};

TEST(PlatformWiringTest, TheLogNamesTheBackendAndPwmSafeNeedsTables)
{
    FakeDisplayServices two;
    two.addDisplay(1);
    two.addDisplay(2);
    FakeDisplayServices one;
    one.addDisplay(7);
    NoDisplayServices none;
    const struct {
        DisplayServices* displays;
        const char* backend;
        const char* line;
        bool pwmSafe;  // an external monitor answers DDC/CI in every case
    } cases[] = {
        {&two, "x11 randr", "display: x11 randr (2 outputs)", true},
        {&one, "wayland wlr-gamma-control", "display: wayland wlr-gamma-control (1 output)", true},
        {&none, "none (Xwayland: the compositor ignores X11 gamma)", "display: none (Xwayland: the compositor ignores X11 gamma)", false},
    };
    for (const auto& c : cases) {
        FakePlatform platform(*c.displays, c.backend);
        PlatformWiring wiring(platform);
        EXPECT_EQ(VeskEngine::shared().displayServices(), c.displays);
        EXPECT_TRUE(EventLog::shared().dump().endsWith(QString::fromLatin1(c.line))) << c.line;
        EXPECT_EQ(PWMSafe::shared().available(), c.pwmSafe) << c.line;
    }
    EXPECT_EQ(VeskEngine::shared().displayServices(), nullptr);
}

}  // namespace
