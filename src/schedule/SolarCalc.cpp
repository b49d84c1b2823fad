#include "schedule/SolarCalc.h"

#include <cmath>

namespace {

constexpr double kToRad = 0.017453292519943295;
constexpr double kToDeg = 57.29577951308232;
constexpr double kCosZenith = -0.014538080502496963;  // cos(90.833°)

// The event's time of day in universal time, in hours; absent when the sun does not cross
// the zenith circle that day.
std::optional<double> utHours(double lat, double lon, int dayOfYear, bool rising)
{
    const double lngHour = lon / 15;
    const double t = dayOfYear + ((rising ? 6.0 : 18.0) - lngHour) / 24;
    const double m = 0.9856 * t - 3.289;
    const double l = std::fmod(m + 1.916 * std::sin(m * kToRad) + 0.020 * std::sin(2 * m * kToRad) + 282.634 + 360, 360);
    const double sinDec = 0.39782 * std::sin(l * kToRad);
    const double cosDec = std::cos(std::asin(sinDec));
    const double cosH = (kCosZenith - sinDec * std::sin(lat * kToRad)) / (cosDec * std::cos(lat * kToRad));
    if (std::fabs(cosH) > 1.0)
        return std::nullopt;
    double ra = std::fmod(std::atan(0.91764 * std::tan(l * kToRad)) * kToDeg + 360, 360);
    ra += std::floor(l / 90) * 90 - std::floor(ra / 90) * 90;
    double h = std::acos(cosH) * kToDeg;
    if (rising)
        h = 360 - h;
    const double ut = std::fmod(h / 15 + ra / 15 - 0.06571 * t - 6.622 - lngHour + 240, 24);
    // Coordinates that are not numbers end up here as NaN; they have no sun times.
    if (!std::isfinite(ut))
        return std::nullopt;
    return ut;
}

// A time of day in universal time, placed on the local calendar day of `date`.
QDateTime localDate(double ut, double offsetHours, const QDateTime& date, const QDate& day)
{
    const double h = std::fmod(ut + offsetHours + 24, 24);
    if (!(h >= 0.0 && h < 24.0))
        return date;
    const int hour = static_cast<int>(h);
    const int minute = static_cast<int>((h - hour) * 60);  // truncated, never rounded
    const QDateTime result(day, QTime(hour, minute, 0), Qt::LocalTime);
    // An instant, not a wall-clock reading that would move with the time zone.
    return result.isValid() ? result.toUTC() : date;
}

}  // namespace

std::optional<SunTimes> SolarCalc::sunTimes(double lat, double lon, const QDateTime& date)
{
    const QDateTime local = date.toLocalTime();
    const QDate day = local.date();
    const int n = day.isValid() ? day.dayOfYear() : 1;

    const std::optional<double> rise = utHours(lat, lon, n, true);
    if (!rise)
        return std::nullopt;
    const std::optional<double> set = utHours(lat, lon, n, false);
    if (!set)
        return std::nullopt;

    // The offset in force at `date`, so daylight saving time of that day is included.
    const double offsetHours = local.offsetFromUtc() / 3600.0;
    return SunTimes{localDate(*rise, offsetHours, date, day), localDate(*set, offsetHours, date, day)};
}
