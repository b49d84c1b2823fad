#include "system/SupportReport.h"

#include "brightness/DDC.h"
#include "brightness/PWMSafe.h"
#include "engine/VeskEngine.h"
#include "schedule/AppSettings.h"
#include "system/EventLog.h"
#include "system/Localization.h"

#include <QStringList>
#include <QSysInfo>

#include <cmath>

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

}  // namespace

QString SupportReport::text()
{
    const QString version = QStringLiteral(AMBRANO_VERSION);
    QString report = QStringLiteral("Ambrano (por Marren) ") + (version.isEmpty() ? QStringLiteral("?") : version);
    report += QStringLiteral("\nPlatform: ") + QSysInfo::prettyProductName() + QStringLiteral(" (")
        + QSysInfo::currentCpuArchitecture() + QStringLiteral(")\nDisplays:\n");

    QStringList displayLines;
    VeskEngine& engine = VeskEngine::shared();
    if (DisplayServices* displays = engine.displayServices()) {
        for (DisplayID id : displays->activeDisplays()) {
            displayLines << QStringLiteral("  - %1 %2 %3x%4")
                                .arg(id)
                                .arg(displays->isBuiltin(id) ? QStringLiteral("builtin") : QStringLiteral("external"))
                                .arg(displays->pixelsWide(id))
                                .arg(displays->pixelsHigh(id));
        }
    }
    report += displayLines.join(QLatin1Char('\n'));

    report += QStringLiteral("\nPWM-safe available: ") + boolText(PWMSafe::shared().available())
        + QStringLiteral("   DDC available: ") + boolText(DDC::shared().available());
    report += QStringLiteral("\nSettings: warmth=%1 brightness=%2")
                  .arg(static_cast<long long>(std::trunc(engine.warmth())))
                  .arg(static_cast<long long>(std::trunc(engine.brightness())));
    report += QStringLiteral(" on=") + boolText(engine.enabled()) + QStringLiteral(" pwm=") + boolText(engine.pwmSafe)
        + QStringLiteral(" extremeDim=") + boolText(AppSettings::extremeDim()) + QStringLiteral(" lang=")
        + rawValue(Localization::shared().lang());
    report += QStringLiteral("\n--- log ---\n") + EventLog::shared().dump();
    return report;
}
