#include "engine/ColorModel.h"

#include <algorithm>
#include <cmath>

namespace ColorModel {

namespace {

double normalised(double value)
{
    const double x = value / 255.0;
    if (x >= 1.0)
        return 1.0;
    if (x >= 0.0)
        return x;
    return 0.0;
}

float clampedEntry(double value)
{
    if (value < 0.0)
        value = 0.0;
    if (value > 1.0)
        value = 1.0;
    return static_cast<float>(value);
}

}  // namespace

double warmthForKelvin(double kelvin)
{
    const double w = (6500.0 - kelvin) / 5500.0 * 90.0;
    return std::max(std::min(w, 90.0), 0.0);
}

ChannelGains rgbForWarmth(double warmth)
{
    if (!(warmth < 100.0))  // also NaN
        warmth = 100.0;
    else if (warmth < 0.0)
        return rgbForTemperature(6500.0);
    else if (warmth <= 90.0)
        return rgbForTemperature((warmth / -90.0) * 5500.0 + 6500.0);

    const double t = (warmth - 90.0) / 10.0;
    return {1.0, (1.0 - t) * kGreenAt1000K, 0.0};
}

ChannelGains rgbForTemperature(double kelvin)
{
    double t = 0.0;
    if (!(kelvin < 40000.0))  // also NaN
        t = 400.0;
    else if (kelvin >= 1000.0)
        t = kelvin / 100.0;
    else
        return {1.0, kGreenAt1000K, 0.0};

    double red = 0.0;
    double green = 0.0;
    if (t <= 66.0) {
        red = 255.0;
        green = 99.4708025861 * std::log(t) - 161.1195681661;
    } else {
        red = 329.698727446 * std::pow(t - 60.0, -0.1332047592);
        green = 288.1221695283 * std::pow(t - 60.0, -0.0755148492);
    }

    double blue = 0.0;
    if (t >= 66.0)
        blue = 255.0;
    else if (t <= 19.0)
        blue = 0.0;
    else
        blue = 138.5177312231 * std::log(t - 10.0) - 305.0447927307;

    return {normalised(red), normalised(green), normalised(blue)};
}

TransferTables buildTables(double warmth, double brightness)
{
    const ChannelGains gains = rgbForWarmth(warmth);
    const double s = brightness / 100.0;
    TransferTables tables;
    for (int i = 0; i < TransferTables::size; ++i) {
        const double x = static_cast<double>(i) / 255.0;
        tables.red[i] = clampedEntry(x * gains.red * s);
        tables.green[i] = clampedEntry(x * gains.green * s);
        tables.blue[i] = clampedEntry(x * gains.blue * s);
    }
    return tables;
}

}  // namespace ColorModel
