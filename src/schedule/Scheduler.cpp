#include "schedule/Scheduler.h"

#include "engine/VeskEngine.h"
#include "engine/WarmthPresets.h"
#include "schedule/AppSettings.h"
#include "schedule/SolarCalc.h"
#include "system/EventLog.h"

#include <cmath>
#include <optional>

namespace {

enum class Period { day, evening, night };

// A period from a to b, on whole hours; it wraps past midnight when a > b.
bool contains(int a, int b, int h)
{
    if (a <= b)
        return a <= h && h < b;
    return h >= a || h < b;
}

int minuteOfDay(const QDateTime& t)
{
    const QTime time = t.toLocalTime().time();
    return time.hour() * 60 + time.minute();
}

std::optional<Period> solarPeriod(const QDateTime& now)
{
    if (!AppSettings::useSolar() || !AppSettings::hasLocation())
        return std::nullopt;
    const std::optional<SunTimes> times = SolarCalc::sunTimes(AppSettings::latitude(), AppSettings::longitude(), now);
    if (!times)
        return std::nullopt;
    const int nowMin = minuteOfDay(now);
    const int riseMin = minuteOfDay(times->sunrise);
    int setMin = minuteOfDay(times->sunset);
    if (setMin < riseMin) {
        // Far north in summer the sun sets after midnight: that clock time ends the evening
        // that began the day before, not an early-morning one. Counted from sunrise, the
        // evening then runs up to the sunset after midnight.
        setMin += 24 * 60;
        const int eveningMin = setMin - 120;
        const int sinceRise = nowMin >= riseMin ? nowMin : nowMin + 24 * 60;
        if (sinceRise < eveningMin)
            return Period::day;
        return sinceRise < setMin ? Period::evening : Period::night;
    }
    const int eveningMin = setMin - 120;
    if (riseMin <= nowMin && nowMin < eveningMin)
        return Period::day;
    if (nowMin >= setMin || nowMin < eveningMin)
        return Period::night;
    return Period::evening;
}

Period fixedPeriod(const QDateTime& now)
{
    const int h = now.toLocalTime().time().hour();
    const int d = AppSettings::dayStart();
    const int e = AppSettings::eveningStart();
    const int n = AppSettings::nightStart();
    if (contains(d, e, h))
        return Period::day;
    if (contains(e, n, h))
        return Period::evening;
    return Period::night;
}

}  // namespace

Scheduler& Scheduler::shared()
{
    static Scheduler* instance = new Scheduler(VeskEngine::shared());  // never destroyed
    return *instance;
}

Scheduler::Scheduler(VeskEngine& engine, QObject* parent)
    : QObject(parent)
    , engine_(engine)
{
    // A timer of the main event loop also fires inside the nested loops of open menus and popups.
    timer_.setInterval(defaultTickInterval);
    connect(&timer_, &QTimer::timeout, this, &Scheduler::apply);
}

void Scheduler::refresh()
{
    timer_.stop();
    lastWarmth_ = -1.0;
    if (!AppSettings::autoSchedule())
        return;
    apply();
    timer_.start();
}

void Scheduler::apply()
{
    if (!AppSettings::autoSchedule())
        return;
    const double target = targetWarmth();
    // Within a period the engine is left alone, so the user may move the slider freely.
    if (std::fabs(target - lastWarmth_) <= 0.5)
        return;
    lastWarmth_ = target;
    if (!engine_.enabled())
        engine_.setEnabled(true);
    engine_.animateWarmth(target);
    EventLog::shared().add(QStringLiteral("auto-schedule \u2192 warmth ") + QString::number(static_cast<int>(target)));
}

double Scheduler::targetWarmth() const
{
    const QDateTime at = now ? now() : QDateTime::currentDateTime();
    const std::optional<Period> solar = solarPeriod(at);
    const Period period = solar ? *solar : fixedPeriod(at);
    switch (period) {
    case Period::day:
        return WarmthPresets::day();
    case Period::evening:
        return WarmthPresets::evening();
    case Period::night:
        break;
    }
    return WarmthPresets::night;
}
