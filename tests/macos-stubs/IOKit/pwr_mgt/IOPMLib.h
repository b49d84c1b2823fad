#include "../../StandInSDK.h"
