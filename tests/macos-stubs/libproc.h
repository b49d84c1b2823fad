#include "StandInSDK.h"
