#pragma once
// Stand-in for <IOKit/IOKitLib.h>: the registry walk and the notification port.

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>

extern "C" {

typedef unsigned int natural_t;
typedef int kern_return_t;
typedef natural_t mach_port_t;
typedef kern_return_t IOReturn;
typedef UInt32 IOOptionBits;

typedef mach_port_t io_object_t;
typedef io_object_t io_registry_entry_t;
typedef io_object_t io_iterator_t;
typedef io_object_t io_service_t;
typedef io_object_t io_connect_t;
typedef char io_name_t[128];

typedef struct IONotificationPort* IONotificationPortRef;
typedef void (*IOServiceInterestCallback)(void* refcon, io_service_t service, std::uint32_t messageType, void* messageArgument);

#define KERN_SUCCESS 0
#define kIOReturnSuccess KERN_SUCCESS
#define MACH_PORT_NULL 0
#define IO_OBJECT_NULL ((io_object_t)0)
#define kIOServicePlane "IOService"

enum { kIORegistryIterateRecursively = 0x00000001 };

extern const mach_port_t kIOMainPortDefault;

io_registry_entry_t IORegistryGetRootEntry(mach_port_t mainPort);
kern_return_t IORegistryEntryCreateIterator(io_registry_entry_t entry, const io_name_t plane, IOOptionBits options, io_iterator_t* iterator);
io_object_t IOIteratorNext(io_iterator_t iterator);
kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name);
CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const io_name_t plane, CFStringRef key, CFAllocatorRef allocator, IOOptionBits options);
kern_return_t IOObjectRelease(io_object_t object);
kern_return_t IOServiceClose(io_connect_t connect);

CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef notify);
void IONotificationPortDestroy(IONotificationPortRef notify);

}  // extern "C"
