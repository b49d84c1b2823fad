#pragma once
// The types and constants of the macOS SDK (CoreFoundation, CoreGraphics, IOKit, Carbon, libproc)
// that the macOS backends use, as Apple documents them; the SDK's own header names include this.
#include <cstddef>
#include <cstdint>

extern "C" {
// CoreFoundation.
typedef unsigned char Boolean, UInt8; typedef std::uint32_t UInt32, CFStringEncoding; typedef std::int32_t SInt32;
typedef signed long CFIndex; typedef unsigned long CFTypeID; typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef; typedef const struct __CFString *CFStringRef, *CFRunLoopMode;
typedef const struct __CFURL* CFURLRef; typedef struct __CFBundle* CFBundleRef; typedef struct __CFRunLoop* CFRunLoopRef;
typedef struct __CFRunLoopSource* CFRunLoopSourceRef;
enum { kCFStringEncodingUTF8 = 0x08000100 };
#define CFSTR(cStr) __CFStringMakeConstantString("" cStr "")
// Quartz Display Services.
typedef std::uint32_t CGDirectDisplayID, CGDisplayChangeSummaryFlags; typedef float CGGammaValue;
enum CGError : std::int32_t { kCGErrorSuccess = 0, kCGErrorNoneAvailable = 1011 };
enum : std::uint32_t { kCGDisplayBeginConfigurationFlag = (1 << 0), kCGDisplaySetModeFlag = (1 << 3) };
typedef void (*CGDisplayReconfigurationCallBack)(CGDirectDisplayID, CGDisplayChangeSummaryFlags, void* userInfo);
// IOKit: the registry walk, the notification port, system power.
typedef int kern_return_t, IOReturn; typedef UInt32 IOOptionBits; typedef char io_name_t[128];
typedef unsigned int mach_port_t, io_object_t, io_registry_entry_t, io_iterator_t, io_service_t, io_connect_t;
typedef struct IONotificationPort* IONotificationPortRef;
typedef void (*IOServiceInterestCallback)(void* refcon, io_service_t, std::uint32_t messageType, void* messageArgument);
enum : int { KERN_SUCCESS = 0, MACH_PORT_NULL = 0, kIORegistryIterateRecursively = 0x00000001 };
#define IO_OBJECT_NULL ((io_object_t)0)
#define kIOServicePlane "IOService"
enum : std::uint32_t { kIOMessageCanSystemSleep = 0xe0000270, kIOMessageSystemWillSleep = 0xe0000280,
    kIOMessageSystemHasPoweredOn = 0xe0000300, kIOMessageSystemWillPowerOn = 0xe0000320 };
// Carbon: the Event Manager's hot keys.
typedef SInt32 OSStatus; typedef UInt32 OSType, OptionBits; typedef unsigned long ItemCount;
enum { noErr = 0, eventHotKeyExistsErr = -9878, kEventClassKeyboard = 0x6B657962 /* 'keyb' */, kEventHotKeyPressed = 5 };
typedef struct OpaqueEventRef* EventRef; typedef struct OpaqueEventHandlerRef* EventHandlerRef;
typedef struct OpaqueEventHandlerCallRef* EventHandlerCallRef; typedef struct OpaqueEventTargetRef* EventTargetRef;
typedef struct OpaqueEventHotKeyRef* EventHotKeyRef;
struct EventTypeSpec { OSType eventClass; UInt32 eventKind; }; struct EventHotKeyID { OSType signature; UInt32 id; };
typedef OSStatus (*EventHandlerUPP)(EventHandlerCallRef, EventRef, void* inUserData);
// libproc (with the constants of <sys/proc_info.h>).
enum { PROC_RUID_ONLY = 5, PROC_PIDPATHINFO_MAXSIZE = 4 * 1024 };
}  // extern "C"

// The functions, over the scripted Mac.
#include "FakeMacSystem.h"
