#pragma once
// Stand-in for <IOKit/pwr_mgt/IOPMLib.h>: registration for system sleep and wake messages.

#include <IOKit/IOKitLib.h>

#include <cstdint>

extern "C" {

io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* thePortRef, IOServiceInterestCallback callback, io_object_t* notifier);
IOReturn IODeregisterForSystemPower(io_object_t* notifier);
IOReturn IOAllowPowerChange(io_connect_t kernelPort, intptr_t notificationID);

}  // extern "C"
