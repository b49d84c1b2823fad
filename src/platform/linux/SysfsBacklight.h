#pragma once
// The built-in panel's backlight through /sys/class/backlight: the device below a panel
// connector, else the best by type, never a ddcci one. Levels 0 to 1 map to the
// device's own integer range with rounding, so a level read and written back gives the same
// integer. Writes go straight to the device's `brightness` file when this process may write
// it, else through systemd-logind's Session.SetBrightness. Linux has no standard switch for
// ambient-light compensation, so those two operations stay absent.

#include "platform/Backlight.h"

#include <QDBusConnection>
#include <QString>

#include <optional>

class SysfsBacklight {
public:
    // classRoot stands for /sys/class; bus for the system bus where logind lives.
    explicit SysfsBacklight(QString classRoot = QStringLiteral("/sys/class"),
        QDBusConnection bus = QDBusConnection::systemBus());

    // Set and get are present only if a usable device was found at creation.
    const Backlight& functions() const { return functions_; }
    // The chosen device's name ("intel_backlight"), empty without one.
    QString device() const { return name_; }

    // Nearest integer of the range, clamped; absent for a level that is not a number.
    static std::optional<int> levelToValue(float level, int max);
    static float valueToLevel(int value, int max);
    // A non-negative decimal integer with optional surrounding white space, else absent.
    static std::optional<int> parseValue(const QByteArray& text);

private:
    std::int32_t set(float level);
    std::int32_t get(float* level);
    std::optional<int> readValue(const QString& file) const;
    bool askLogind(int value);

    QString dir_;
    QString name_;
    QDBusConnection bus_;
    Backlight functions_;
};
