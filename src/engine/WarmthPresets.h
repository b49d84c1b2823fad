#pragma once
// The warmths of day, evening and night, shared by the panel's preset buttons and the
// schedule: 4000 K, 2700 K, and pure red (beyond the black-body scale, so no temperature).

#include "engine/ColorModel.h"

namespace WarmthPresets {

inline double day() { return ColorModel::warmthForKelvin(4000); }
inline double evening() { return ColorModel::warmthForKelvin(2700); }
inline constexpr double night = 100.0;

}  // namespace WarmthPresets
