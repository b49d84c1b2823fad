#pragma once
// Stand-in for <CoreGraphics/CoreGraphics.h>: Quartz Display Services as the backends use them.

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>
#include <cstdint>

extern "C" {

typedef int boolean_t;
typedef std::uint32_t CGDirectDisplayID;
typedef float CGGammaValue;

enum CGError : std::int32_t {
    kCGErrorSuccess = 0,
    kCGErrorIllegalArgument = 1001,
    kCGErrorNoneAvailable = 1011,
};

typedef std::uint32_t CGDisplayChangeSummaryFlags;
enum : std::uint32_t {
    kCGDisplayBeginConfigurationFlag = (1 << 0),
    kCGDisplaySetModeFlag = (1 << 3),
};

typedef void (*CGDisplayReconfigurationCallBack)(CGDirectDisplayID display, CGDisplayChangeSummaryFlags flags, void* userInfo);

CGError CGGetActiveDisplayList(std::uint32_t maxDisplays, CGDirectDisplayID* activeDisplays, std::uint32_t* displayCount);
CGError CGSetDisplayTransferByTable(CGDirectDisplayID display, std::uint32_t tableSize,
    const CGGammaValue* redTable, const CGGammaValue* greenTable, const CGGammaValue* blueTable);
void CGDisplayRestoreColorSyncSettings(void);
CGError CGDisplayRegisterReconfigurationCallback(CGDisplayReconfigurationCallBack callback, void* userInfo);
CGError CGDisplayRemoveReconfigurationCallback(CGDisplayReconfigurationCallBack callback, void* userInfo);
boolean_t CGDisplayIsBuiltin(CGDirectDisplayID display);
std::size_t CGDisplayPixelsWide(CGDirectDisplayID display);
std::size_t CGDisplayPixelsHigh(CGDirectDisplayID display);

}  // extern "C"
