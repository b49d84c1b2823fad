#include "../StandInSDK.h"
