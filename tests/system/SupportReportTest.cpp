#include "system/SupportReport.h"

#include "engine/VeskEngine.h"
#include "schedule/AppSettings.h"
#include "system/EventLog.h"
#include "system/Localization.h"

#include "FakeDisplayServices.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QSysInfo>

namespace {

class SupportReportTest : public ::testing::Test {
protected:
    SupportReportTest()
    {
        Localization::shared().set(Lang::en);
        VeskEngine::shared().setDisplayServices(&displays);
    }
    ~SupportReportTest() override
    {
        VeskEngine::shared().setEnabled(false);
        VeskEngine::shared().setWarmth(62);
        VeskEngine::shared().setBrightness(100);
        VeskEngine::shared().setDisplayServices(nullptr);
        Localization::shared().set(Lang::en);
    }

    FreshSettings settings;
    FakeDisplayServices displays;
};

}  // namespace

TEST_F(SupportReportTest, TheReportListsPlatformDisplaysStateAndLog)
{
    displays.displays.push_back({1, true, 3024, 1964});
    displays.displays.push_back({4177, false, 2560, 1440});
    VeskEngine::shared().setWarmth(62.7);
    VeskEngine::shared().setBrightness(87.9);
    AppSettings::setExtremeDim(true);
    Localization::shared().set(Lang::ca);
    EventLog::shared().add(QStringLiteral("test: a line for the report"));

    const QString report = SupportReport::text();
    const QStringList lines = report.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 9);
    EXPECT_EQ(lines[0], QStringLiteral("Ambrano (por Marren) ") + QStringLiteral(AMBRANO_VERSION));
    EXPECT_EQ(lines[1],
        QStringLiteral("Platform: ") + QSysInfo::prettyProductName() + QStringLiteral(" (") + QSysInfo::currentCpuArchitecture()
            + QStringLiteral(")"));
    EXPECT_FALSE(QSysInfo::currentCpuArchitecture().isEmpty());
    EXPECT_EQ(lines[2], QStringLiteral("Displays:"));
    EXPECT_EQ(lines[3], QStringLiteral("  - 1 builtin 3024x1964"));
    EXPECT_EQ(lines[4], QStringLiteral("  - 4177 external 2560x1440"));
    EXPECT_EQ(lines[5], QStringLiteral("PWM-safe available: false   DDC available: false"));
    EXPECT_EQ(lines[6], QStringLiteral("Settings: warmth=62 brightness=87 on=false pwm=false extremeDim=true lang=ca"));
    EXPECT_EQ(lines[7], QStringLiteral("--- log ---"));
    // The log closes the report, with no line feed after it.
    const QString log = EventLog::shared().dump();
    EXPECT_TRUE(report.endsWith(QStringLiteral("\n--- log ---\n") + log));
    EXPECT_TRUE(log.endsWith(QStringLiteral("test: a line for the report")));
    EXPECT_FALSE(report.endsWith(QLatin1Char('\n')));
}

TEST_F(SupportReportTest, TheReportShowsTheFilterStateAndAnEmptyDisplayList)
{
    VeskEngine::shared().setEnabled(true);
    VeskEngine::shared().pwmSafe = true;
    const QString report = SupportReport::text();
    VeskEngine::shared().pwmSafe = false;
    EXPECT_TRUE(report.contains(QStringLiteral(")\nDisplays:\n\nPWM-safe available: "))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("\nSettings: warmth=62 brightness=100 on=true pwm=true extremeDim=false lang=en\n")))
        << report.toStdString();
}
