#pragma once
// The test X server's gamma, read on a connection of its own.
#include "platform/linux/GammaRamp.h"
#include <map>
#include <string>

namespace XTestTools {
// Every active CRTC's ramps, by the name of the output it drives.
std::map<std::string, GammaRamp> readRamps();
}  // namespace XTestTools
