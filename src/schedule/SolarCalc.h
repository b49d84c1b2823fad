#pragma once
// Local clock times of sunrise and sunset for a place and a day: the classic almanac
// approximation for the official zenith of 90.833°, good to a minute or two.

#include <QDateTime>

#include <optional>

struct SunTimes {
    QDateTime sunrise;
    QDateTime sunset;
};

class SolarCalc {
public:
    // Both events on the local calendar day of `date`, to the whole minute (seconds 0).
    // Absent when the sun stays above or below the horizon all day (polar day or night),
    // and for coordinates that are not finite numbers.
    static std::optional<SunTimes> sunTimes(double lat, double lon,
        const QDateTime& date = QDateTime::currentDateTime());

    SolarCalc() = delete;
};
