// Runs the PWM-safe controller over the real Linux backends (/sys/class/backlight, logind,
// i2c-dev) with one built-in display, for checks inside a private mount namespace.
// Reads commands from stdin, one a line: "enable", "disable", "state", "log", "quit";
// answers each with one line.
#include "brightness/DDC.h"
#include "brightness/PWMSafe.h"
#include "platform/linux/I2CDevTransport.h"
#include "platform/linux/SysfsBacklight.h"
#include "system/EventLog.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

class OnePanel : public DisplayServices {
public:
    std::vector<DisplayID> activeDisplays() override { return {1}; }
    GammaResult setTransferTables(DisplayID, const TransferTables&) override { return GammaResult::unsupported; }
    void restoreColorProfiles() override {}
    void registerReconfigurationCallback(ReconfigurationCallback) override {}
    bool isBuiltin(DisplayID display) override { return display == 1; }
    std::uint32_t pixelsWide(DisplayID) override { return 1920; }
    std::uint32_t pixelsHigh(DisplayID) override { return 1080; }
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    OnePanel displays;
    SysfsBacklight backlight;
    I2CDevTransport transport;
    DDC::shared().setTransport(&transport);
    PWMSafe& pwm = PWMSafe::shared();
    pwm.setDisplayServices(&displays);
    pwm.setBacklight(backlight.functions());

    std::printf("ready device=%s ddc=%s\n", qPrintable(backlight.device()), transport.available() ? "yes" : "no");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "enable")
            pwm.enable();
        else if (line == "disable")
            pwm.disable();
        else if (line == "log") {
            std::printf("%s\n", qPrintable(EventLog::shared().dump().replace(QLatin1Char('\n'), QLatin1String(" | "))));
            std::fflush(stdout);
            continue;
        } else if (line == "quit")
            break;
        std::printf("state %s\n", pwmStateName(pwm.state()));
        std::fflush(stdout);
    }
    pwm.setBacklight({});
    pwm.setDisplayServices(nullptr);
    DDC::shared().setTransport(nullptr);
    return 0;
}
