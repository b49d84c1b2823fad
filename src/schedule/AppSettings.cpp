#include "schedule/AppSettings.h"

#include "platform/NotificationCenter.h"
#include "platform/SettingsStore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const QString kExtremeDim = QStringLiteral("vesk.extremeDim");
const QString kAutoSchedule = QStringLiteral("vesk.autoSchedule");
const QString kDayStart = QStringLiteral("vesk.dayStart");
const QString kEveningStart = QStringLiteral("vesk.eveningStart");
const QString kNightStart = QStringLiteral("vesk.nightStart");
const QString kUseSolar = QStringLiteral("vesk.useSolar");
const QString kLatitude = QStringLiteral("vesk.lat");
const QString kLongitude = QStringLiteral("vesk.lon");
const QString kLocationName = QStringLiteral("vesk.locName");

SettingsStore& store()
{
    return SettingsStore::shared();
}

void announce()
{
    NotificationCenter::shared().post(QString::fromLatin1(AppSettings::didChange));
}
}  // namespace

bool AppSettings::extremeDim() { return store().boolValue(kExtremeDim); }
void AppSettings::setExtremeDim(bool on) { setBool(kExtremeDim, on); }
bool AppSettings::autoSchedule() { return store().boolValue(kAutoSchedule); }
void AppSettings::setAutoSchedule(bool on) { setBool(kAutoSchedule, on); }
bool AppSettings::useSolar() { return store().boolValue(kUseSolar); }
void AppSettings::setUseSolar(bool on) { setBool(kUseSolar, on); }

int AppSettings::dayStart() { return hour(kDayStart, 6); }
void AppSettings::setDayStart(int h) { setHour(kDayStart, h); }
int AppSettings::eveningStart() { return hour(kEveningStart, 18); }
void AppSettings::setEveningStart(int h) { setHour(kEveningStart, h); }
int AppSettings::nightStart() { return hour(kNightStart, 22); }
void AppSettings::setNightStart(int h) { setHour(kNightStart, h); }

double AppSettings::latitude() { return store().doubleValue(kLatitude); }
void AppSettings::setLatitude(double degrees) { store().setValue(kLatitude, degrees); }
double AppSettings::longitude() { return store().doubleValue(kLongitude); }
void AppSettings::setLongitude(double degrees) { store().setValue(kLongitude, degrees); }
QString AppSettings::locationName() { return store().stringValue(kLocationName); }
void AppSettings::setLocationName(const QString& name) { store().setValue(kLocationName, name); }

double AppSettings::brightnessFloor()
{
    return extremeDim() ? 1.0 : 10.0;
}

bool AppSettings::hasLocation()
{
    const double lat = latitude();
    const double lon = longitude();
    if (!std::isfinite(lat) || !std::isfinite(lon))
        return false;
    return lat != 0.0 || lon != 0.0;
}

int AppSettings::hour(const QString& key, int fallback)
{
    // A read does not limit the range: another writer's 30 reads back as 30.
    const auto stored = store().integerValue(key);
    if (!stored || *stored < std::numeric_limits<int>::min() || *stored > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(*stored);
}

void AppSettings::setHour(const QString& key, int value)
{
    store().setValue(key, std::clamp(value, 0, 23));
    announce();
}

void AppSettings::setBool(const QString& key, bool on)
{
    store().setValue(key, on);
    announce();
}
