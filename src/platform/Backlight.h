#pragma once
// Hardware brightness of the built-in panel. The four operations are optional: a backend
// fills in those it can provide when it is created and leaves the others empty, and the
// callers skip whatever is missing. Statuses: 0 = success.

#include "platform/DisplayServices.h"

#include <cstdint>
#include <functional>

struct Backlight {
    // Level 0 to 1.
    std::function<std::int32_t(DisplayID display, float level)> setBrightness;
    // Fills level only on success.
    std::function<std::int32_t(DisplayID display, float* level)> getBrightness;
    // Ambient-light compensation (automatic brightness).
    std::function<std::int32_t(DisplayID display, bool enable)> enableALC;
    std::function<std::int32_t(DisplayID display, bool* enabled)> alcEnabled;
};
