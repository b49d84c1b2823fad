#include "system/SupportReport.h"

#include "engine/VeskEngine.h"
#include "schedule/AppSettings.h"
#include "system/EventLog.h"
#include "system/Localization.h"

#include "FakeDisplayServices.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QSysInfo>

TEST(SupportReport, PlatformDisplaysStateAndTheLogLast)
{
    FreshSettings settings;
    FakeDisplayServices displays;
    displays.displays.push_back({1, true, 3024, 1964});
    displays.displays.push_back({4177, false, 2560, 1440});
    VeskEngine& engine = VeskEngine::shared();
    engine.setDisplayServices(&displays);
    engine.setEnabled(true);
    engine.pwmSafe = false;
    engine.setWarmth(62.7);
    engine.setBrightness(87.9);
    AppSettings::setExtremeDim(true);
    Localization::shared().set(Lang::ca);
    EventLog::shared().add(QStringLiteral("test: a line for the report"));
    EXPECT_EQ(SupportReport::text(), QStringLiteral("Ambrano (por Marren) " AMBRANO_VERSION "\nPlatform: ") + QSysInfo::prettyProductName()
        + QStringLiteral(" (") + QSysInfo::currentCpuArchitecture() + QStringLiteral(")\nDisplays:\n  - 1 builtin 3024x1964\n"
        "  - 4177 external 2560x1440\nPWM-safe available: false   DDC available: false\n"
        "Settings: warmth=62 brightness=87 on=true pwm=false extremeDim=true lang=ca\n--- log ---\n") + EventLog::shared().dump());
    EXPECT_TRUE(EventLog::shared().dump().endsWith(QStringLiteral("test: a line for the report")));

    engine.setEnabled(false);
    engine.setWarmth(62);
    engine.setBrightness(100);
    engine.setDisplayServices(nullptr);
    Localization::shared().set(Lang::en);
}
