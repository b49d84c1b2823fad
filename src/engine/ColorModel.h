#pragma once
// Warmth scale, black-body approximation and the linear transfer ramps built from them.
// Pure functions: no state, no Qt.

#include "platform/DisplayServices.h"

struct ChannelGains {
    double red = 1.0;
    double green = 1.0;
    double blue = 1.0;
    bool operator==(const ChannelGains&) const = default;
};

namespace ColorModel {

// Green gain of the model at 1000 K (67.92041905680745 / 255); warmth 90..100 fades it to 0.
inline constexpr double kGreenAt1000K = 0.2663545845364998;

// 6500 K and hotter give 0, 1000 K and cooler give 90.
double warmthForKelvin(double kelvin);
// Gains for a warmth on the 0..100 scale; 90..100 fades green out to pure red.
ChannelGains rgbForWarmth(double warmth);
// Gains for a colour temperature, held to 1000..40000 K.
ChannelGains rgbForTemperature(double kelvin);
// Linear ramps x * gain * brightness / 100, clamped in double, rounded to float.
TransferTables buildTables(double warmth, double brightness);

}  // namespace ColorModel
