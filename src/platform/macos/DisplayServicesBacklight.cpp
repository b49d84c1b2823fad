#include "platform/macos/DisplayServicesBacklight.h"

#include <CoreGraphics/CoreGraphics.h>

#include <dlfcn.h>

// The framework has no public header; these shapes are what it exports.
extern "C" {
using DisplayServicesSetBrightnessFn = int (*)(CGDirectDisplayID display, float brightness);
using DisplayServicesGetBrightnessFn = int (*)(CGDirectDisplayID display, float* brightness);
using DisplayServicesEnableAmbientLightCompensationFn = int (*)(CGDirectDisplayID display, bool enable);
using DisplayServicesAmbientLightCompensationEnabledFn = int (*)(CGDirectDisplayID display, bool* enabled);
}

namespace {

template <typename Function>
Function lookUp(void* handle, const char* name)
{
    return reinterpret_cast<Function>(dlsym(handle, name));
}

}  // namespace

DisplayServicesBacklight::DisplayServicesBacklight(const char* library)
{
    // Never closed: the functions are kept for the life of the process.
    void* handle = dlopen(library, RTLD_LAZY);
    if (!handle)
        return;

    if (auto set = lookUp<DisplayServicesSetBrightnessFn>(handle, "DisplayServicesSetBrightness"))
        functions_.setBrightness = [set](DisplayID display, float level) { return set(display, level); };
    if (auto get = lookUp<DisplayServicesGetBrightnessFn>(handle, "DisplayServicesGetBrightness")) {
        functions_.getBrightness = [get](DisplayID display, float* level) {
            float value = 0.0F;
            const int status = get(display, &value);
            if (status == 0 && level)
                *level = value;
            return status;
        };
    }
    if (auto enable = lookUp<DisplayServicesEnableAmbientLightCompensationFn>(handle, "DisplayServicesEnableAmbientLightCompensation"))
        functions_.enableALC = [enable](DisplayID display, bool on) { return enable(display, on); };
    if (auto enabled = lookUp<DisplayServicesAmbientLightCompensationEnabledFn>(handle, "DisplayServicesAmbientLightCompensationEnabled")) {
        functions_.alcEnabled = [enabled](DisplayID display, bool* on) {
            bool value = false;
            const int status = enabled(display, &value);
            if (status == 0 && on)
                *on = value;
            return status;
        };
    }
}
