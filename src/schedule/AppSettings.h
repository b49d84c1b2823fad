#pragma once
// The user's dimming, schedule and location choices, read from and written straight to the
// settings store. The setters of behaviour announce themselves with "VeskSettingsChanged".

#include <QString>

class AppSettings {
public:
    static constexpr const char* didChange = "VeskSettingsChanged";

    static bool extremeDim();
    static void setExtremeDim(bool on);
    static bool autoSchedule();
    static void setAutoSchedule(bool on);
    static int dayStart();
    static void setDayStart(int hour);
    static int eveningStart();
    static void setEveningStart(int hour);
    static int nightStart();
    static void setNightStart(int hour);
    static bool useSolar();
    static void setUseSolar(bool on);

    static double latitude();
    static void setLatitude(double degrees);
    static double longitude();
    static void setLongitude(double degrees);
    static QString locationName();
    static void setLocationName(const QString& name);

    // Lowest brightness the slider offers: 1 with extreme dimming, else 10.
    static double brightnessFloor();
    // A stored position other than exactly 0°, 0° (and not NaN or infinite).
    static bool hasLocation();

    AppSettings() = delete;

private:
    static int hour(const QString& key, int fallback);
    static void setHour(const QString& key, int value);
    static void setBool(const QString& key, bool on);
};
