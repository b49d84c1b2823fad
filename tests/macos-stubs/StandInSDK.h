#pragma once
// The subset of the macOS SDK (CoreFoundation, CoreGraphics, IOKit, Carbon, libproc) that the
// macOS backends use, declared as Apple documents it; the SDK's own header names include this.
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
extern const CFAllocatorRef kCFAllocatorDefault; extern const CFRunLoopMode kCFRunLoopCommonModes;
CFStringRef __CFStringMakeConstantString(const char* cStr);
#define CFSTR(cStr) __CFStringMakeConstantString("" cStr "")
void CFRelease(CFTypeRef);
CFTypeID CFGetTypeID(CFTypeRef), CFStringGetTypeID(void);
Boolean CFEqual(CFTypeRef, CFTypeRef), CFStringGetCString(CFStringRef, char* buffer, CFIndex bufferSize, CFStringEncoding);
CFIndex CFStringGetLength(CFStringRef), CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding);
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer, CFIndex bufLen, Boolean isDirectory);
CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL);
CFStringRef CFBundleGetIdentifier(CFBundleRef);
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef, CFStringRef key);
CFRunLoopRef CFRunLoopGetMain(void);
void CFRunLoopAddSource(CFRunLoopRef, CFRunLoopSourceRef, CFRunLoopMode), CFRunLoopRemoveSource(CFRunLoopRef, CFRunLoopSourceRef, CFRunLoopMode);

// Quartz Display Services.
typedef std::uint32_t CGDirectDisplayID, CGDisplayChangeSummaryFlags; typedef float CGGammaValue;
enum CGError : std::int32_t { kCGErrorSuccess = 0, kCGErrorNoneAvailable = 1011 };
enum : std::uint32_t { kCGDisplayBeginConfigurationFlag = (1 << 0), kCGDisplaySetModeFlag = (1 << 3) };
typedef void (*CGDisplayReconfigurationCallBack)(CGDirectDisplayID display, CGDisplayChangeSummaryFlags flags, void* userInfo);
CGError CGGetActiveDisplayList(std::uint32_t maxDisplays, CGDirectDisplayID* activeDisplays, std::uint32_t* displayCount),
    CGSetDisplayTransferByTable(CGDirectDisplayID, std::uint32_t tableSize, const CGGammaValue* red, const CGGammaValue* green, const CGGammaValue* blue),
    CGDisplayRegisterReconfigurationCallback(CGDisplayReconfigurationCallBack, void* userInfo),
    CGDisplayRemoveReconfigurationCallback(CGDisplayReconfigurationCallBack, void* userInfo);
void CGDisplayRestoreColorSyncSettings(void);
int CGDisplayIsBuiltin(CGDirectDisplayID);
std::size_t CGDisplayPixelsWide(CGDirectDisplayID), CGDisplayPixelsHigh(CGDirectDisplayID);

// IOKit: the registry walk, the notification port, system power.
typedef int kern_return_t, IOReturn; typedef UInt32 IOOptionBits; typedef char io_name_t[128];
typedef unsigned int mach_port_t, io_object_t, io_registry_entry_t, io_iterator_t, io_service_t, io_connect_t;
typedef struct IONotificationPort* IONotificationPortRef;
typedef void (*IOServiceInterestCallback)(void* refcon, io_service_t service, std::uint32_t messageType, void* messageArgument);
enum : int { KERN_SUCCESS = 0, MACH_PORT_NULL = 0, kIORegistryIterateRecursively = 0x00000001 };
#define IO_OBJECT_NULL ((io_object_t)0)
#define kIOServicePlane "IOService"
enum : std::uint32_t { kIOMessageCanSystemSleep = 0xe0000270, kIOMessageSystemWillSleep = 0xe0000280,
    kIOMessageSystemHasPoweredOn = 0xe0000300, kIOMessageSystemWillPowerOn = 0xe0000320 };
extern const mach_port_t kIOMainPortDefault;
io_registry_entry_t IORegistryGetRootEntry(mach_port_t);
io_object_t IOIteratorNext(io_iterator_t);
kern_return_t IORegistryEntryCreateIterator(io_registry_entry_t, const io_name_t plane, IOOptionBits options, io_iterator_t* iterator),
    IORegistryEntryGetName(io_registry_entry_t, io_name_t name), IOObjectRelease(io_object_t), IOServiceClose(io_connect_t);
CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t, const io_name_t plane, CFStringRef key, CFAllocatorRef, IOOptionBits options);
CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef);
void IONotificationPortDestroy(IONotificationPortRef);
io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* thePortRef, IOServiceInterestCallback, io_object_t* notifier);
IOReturn IODeregisterForSystemPower(io_object_t* notifier), IOAllowPowerChange(io_connect_t kernelPort, intptr_t notificationID);

// Carbon: the Event Manager's hot keys.
typedef SInt32 OSStatus; typedef UInt32 OSType, OptionBits; typedef unsigned long ItemCount;
enum { noErr = 0, eventHotKeyExistsErr = -9878, kEventClassKeyboard = 0x6B657962 /* 'keyb' */, kEventHotKeyPressed = 5 };
typedef struct OpaqueEventRef* EventRef; typedef struct OpaqueEventHandlerRef* EventHandlerRef;
typedef struct OpaqueEventHandlerCallRef* EventHandlerCallRef; typedef struct OpaqueEventTargetRef* EventTargetRef;
typedef struct OpaqueEventHotKeyRef* EventHotKeyRef;
struct EventTypeSpec { OSType eventClass; UInt32 eventKind; }; struct EventHotKeyID { OSType signature; UInt32 id; };
typedef OSStatus (*EventHandlerUPP)(EventHandlerCallRef, EventRef, void* inUserData);
EventTargetRef GetApplicationEventTarget(void);
OSStatus InstallEventHandler(EventTargetRef, EventHandlerUPP, ItemCount inNumTypes, const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef),
    RegisterEventHotKey(UInt32 inHotKeyCode, UInt32 inHotKeyModifiers, EventHotKeyID, EventTargetRef, OptionBits, EventHotKeyRef* outRef),
    RemoveEventHandler(EventHandlerRef), UnregisterEventHotKey(EventHotKeyRef);

// libproc (with the constants of <sys/proc_info.h>).
enum { PROC_RUID_ONLY = 5, PROC_PIDPATHINFO_MAXSIZE = 4 * 1024 };
int proc_listpids(std::uint32_t type, std::uint32_t typeinfo, void* buffer, int buffersize), proc_pidpath(int pid, void* buffer, std::uint32_t buffersize);

}  // extern "C"
