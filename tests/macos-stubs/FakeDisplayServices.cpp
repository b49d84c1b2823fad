// Stands in for the private DisplayServices framework: one library per build, each lacking
// the function named by OMIT_<name>, over the fake machine's backlight.

#include "FakeMacSystem.h"

namespace {

bool isBuiltin(CGDirectDisplayID display)
{
    return FakeMac::system().backlight.count(display) == 1;
}

}  // namespace

extern "C" {

#ifndef OMIT_DisplayServicesSetBrightness
int DisplayServicesSetBrightness(CGDirectDisplayID display, float brightness)
{
    if (!isBuiltin(display))
        return 1;
    FakeMac::system().backlight[display] = brightness;
    return 0;
}
#endif

#ifndef OMIT_DisplayServicesGetBrightness
int DisplayServicesGetBrightness(CGDirectDisplayID display, float* brightness)
{
    if (!isBuiltin(display))
        return 1;
    *brightness = FakeMac::system().backlight[display];
    return 0;
}
#endif

#ifndef OMIT_DisplayServicesEnableAmbientLightCompensation
int DisplayServicesEnableAmbientLightCompensation(CGDirectDisplayID display, bool enable)
{
    if (!isBuiltin(display))
        return 1;
    FakeMac::system().ambientLight[display] = enable;
    return 0;
}
#endif

#ifndef OMIT_DisplayServicesAmbientLightCompensationEnabled
int DisplayServicesAmbientLightCompensationEnabled(CGDirectDisplayID display, bool* enabled)
{
    if (!isBuiltin(display))
        return 1;
    *enabled = FakeMac::system().ambientLight[display];
    return 0;
}
#endif

}  // extern "C"
