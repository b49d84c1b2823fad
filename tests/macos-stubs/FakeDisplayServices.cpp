// Stands in for the private DisplayServices framework: one library per build, each lacking
// the function named by OMIT_<name>, over the fake machine's backlight (built-in panel only).

#include "FakeMacSystem.h"

#define FAKE(name, type, body)                                              \
    extern "C" int name(CGDirectDisplayID display, type value)             \
    {                                                                      \
        if (!FakeMac::system().backlight.count(display))                   \
            return 1;                                                      \
        body;                                                              \
        return 0;                                                          \
    }

#ifndef OMIT_DisplayServicesSetBrightness
FAKE(DisplayServicesSetBrightness, float, FakeMac::system().backlight[display] = value)
#endif
#ifndef OMIT_DisplayServicesGetBrightness
FAKE(DisplayServicesGetBrightness, float*, *value = FakeMac::system().backlight[display])
#endif
#ifndef OMIT_DisplayServicesEnableAmbientLightCompensation
FAKE(DisplayServicesEnableAmbientLightCompensation, bool, FakeMac::system().ambientLight[display] = value)
#endif
#ifndef OMIT_DisplayServicesAmbientLightCompensationEnabled
FAKE(DisplayServicesAmbientLightCompensationEnabled, bool*, *value = FakeMac::system().ambientLight[display])
#endif
