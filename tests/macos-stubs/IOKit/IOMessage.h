#pragma once
// Stand-in for <IOKit/IOMessage.h>: the system power messages (iokit_common_msg values).

#define kIOMessageCanSystemSleep 0xe0000270
#define kIOMessageSystemWillSleep 0xe0000280
#define kIOMessageSystemHasPoweredOn 0xe0000300
#define kIOMessageSystemWillPowerOn 0xe0000320
