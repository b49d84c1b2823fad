#pragma once
// The stand-in macOS SDK: the types and constants of CoreFoundation, CoreGraphics, IOKit, Carbon and libproc
// that the macOS backends use, as Apple documents them, and the calls over a scripted Mac that a test sets up
// and inspects. The test program exports the private frameworks' functions for dlsym, as the system would.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

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

struct ScriptedMac {
    // A CoreFoundation object: a string's text, a URL's or bundle's path, an AV service's registry entry.
    struct Object { CFTypeID type; std::string text; std::size_t entry = 0; bool operator==(const Object&) const = default; };
    enum : CFTypeID { stringType = 7, urlType, bundleType, avServiceType };
    struct Process { int pid; std::uint32_t ruid; std::string path; };  // path "": gone, or not ours to inspect
    using Key = std::pair<UInt32, UInt32>;  // key code, modifier mask
    using Table = std::vector<float>;
    std::vector<CGDirectDisplayID> displays {1, 2};  // the built-in panel, an external monitor
    std::vector<std::tuple<CGDirectDisplayID, Table, Table, Table>> tableWrites;  // red, green, blue
    int restores = 0;
    std::vector<std::pair<CGDisplayReconfigurationCallBack, void*>> callbacks;
    std::map<CGDirectDisplayID, std::pair<float, bool>> backlight {{1, {0.4F, true}}};  // level, ambient light compensation
    // Service names and "Location": the built-in panel's, one of the wrong kind, the monitor's, one without.
    std::vector<std::pair<std::string, std::string>> registry {{"DCPAVServiceProxy", "Embedded"}, {"AppleCLCD2", "External"},
        {"DCPAVServiceProxy", "External"}, {"DCPAVServiceProxy", ""}};
    std::size_t walkAt = 0;  // the registry walk's next entry; handles: 1 the root, 2 the walk, 10 + i entry i
    // Get VCP Feature reply for luminance: max 100, current 50.
    std::vector<std::uint8_t> i2cReply {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00, 0x00};
    // The service's registry entry, chip, data address, the bytes sent (none for a read).
    std::vector<std::tuple<std::size_t, std::uint32_t, std::uint32_t, std::vector<std::uint8_t>>> transfers;
    Key takenHotKey;  // held by another program
    std::map<EventHotKeyRef, Key> hotKeys;
    std::map<EventHandlerRef, std::pair<EventHandlerUPP, void*>> hotKeyHandlers;  // those listening for presses
    std::pair<IOServiceInterestCallback, void*> power;
    bool powerOnRunLoop = false;  // power messages arrive only then
    std::vector<intptr_t> allowed;  // the power changes let through
    std::vector<Process> processes;
    int liveObjects = 0;  // CoreFoundation objects created and not yet released
    // Their addresses stand for the main run loop, the power port and its source, the application target.
    int runLoop, notifyPort, source, applicationTarget;
    static constexpr io_connect_t rootPort = 4242, powerNotifier = 4243;
    intptr_t nextRef = 1;
    static const Object* object(CFTypeRef ref) { return static_cast<const Object*>(ref); }
    const Object* create(Object o) { return ++liveObjects, new Object(std::move(o)); }
};
inline ScriptedMac mac;

// CoreFoundation. Constant strings, and those a bundle hands out, live as long as the process.
inline CFStringRef __CFStringMakeConstantString(const char* cStr)
{
    static std::map<std::string, ScriptedMac::Object> constants;
    return reinterpret_cast<CFStringRef>(&constants.try_emplace(cStr, mac.stringType, cStr).first->second);
}
inline const CFAllocatorRef kCFAllocatorDefault = nullptr;
inline const CFRunLoopMode kCFRunLoopCommonModes = CFSTR("kCFRunLoopCommonModes");
inline void CFRelease(CFTypeRef cf) { --mac.liveObjects, delete mac.object(cf); }
inline CFTypeID CFGetTypeID(CFTypeRef cf) { return mac.object(cf)->type; }
inline CFTypeID CFStringGetTypeID(void) { return mac.stringType; }
inline Boolean CFEqual(CFTypeRef a, CFTypeRef b) { return *mac.object(a) == *mac.object(b); }
// In UTF-16 units, as the system counts (all text here is within the Basic Multilingual Plane).
inline CFIndex CFStringGetLength(CFStringRef s)
{
    return std::ranges::count_if(mac.object(s)->text, [](char c) { return (c & 0xC0) != 0x80; });
}
inline CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) { return length * 3; }
inline Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex size, CFStringEncoding)
{
    return CFIndex(mac.object(s)->text.size()) < size && std::strcpy(buffer, mac.object(s)->text.c_str());
}
inline CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* path, CFIndex length, Boolean)
{
    return (CFURLRef) mac.create({mac.urlType, std::string((const char*) path, length)});
}
inline CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef url)
{
    const std::string& path = mac.object(url)->text;
    return std::filesystem::is_directory(path) ? (CFBundleRef) mac.create({mac.bundleType, path}) : nullptr;
}
// The string after <key>name</key> in the bundle's XML Info.plist.
inline CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key)
{
    std::ifstream in(mac.object(bundle)->text + "/Contents/Info.plist");
    const std::string plist(std::istreambuf_iterator<char>(in), {}), tag = "<key>" + mac.object(key)->text + "</key><string>";
    const std::size_t at = plist.find(tag), from = at + tag.size();
    return at == plist.npos ? nullptr : __CFStringMakeConstantString(plist.substr(from, plist.find('<', from) - from).c_str());
}
inline CFStringRef CFBundleGetIdentifier(CFBundleRef b)
{
    return (CFStringRef) CFBundleGetValueForInfoDictionaryKey(b, CFSTR("CFBundleIdentifier"));
}
inline CFRunLoopRef CFRunLoopGetMain(void) { return (CFRunLoopRef) &mac.runLoop; }
inline void CFRunLoopAddSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFRunLoopMode mode)
{
    mac.powerOnRunLoop |= loop == CFRunLoopGetMain() && source == (void*) &mac.source && mode == kCFRunLoopCommonModes;
}
inline void CFRunLoopRemoveSource(CFRunLoopRef, CFRunLoopSourceRef, CFRunLoopMode) { mac.powerOnRunLoop = false; }
// Quartz Display Services.
inline CGError CGGetActiveDisplayList(std::uint32_t max, CGDirectDisplayID* displays, std::uint32_t* count)
{
    *count = displays ? std::min<std::size_t>(max, mac.displays.size()) : mac.displays.size();
    return std::copy_n(mac.displays.begin(), displays ? *count : 0, displays), kCGErrorSuccess;
}
inline CGError CGSetDisplayTransferByTable(CGDirectDisplayID id, std::uint32_t n, const float* r, const float* g, const float* b)
{
    mac.tableWrites.emplace_back(id, ScriptedMac::Table(r, r + n), ScriptedMac::Table(g, g + n), ScriptedMac::Table(b, b + n));
    return std::ranges::count(mac.displays, id) ? kCGErrorSuccess : kCGErrorNoneAvailable;
}
inline void CGDisplayRestoreColorSyncSettings(void) { ++mac.restores; }
inline CGError CGDisplayRegisterReconfigurationCallback(CGDisplayReconfigurationCallBack f, void* p)
{
    return mac.callbacks.emplace_back(f, p), kCGErrorSuccess;
}
inline CGError CGDisplayRemoveReconfigurationCallback(CGDisplayReconfigurationCallBack f, void* p)
{
    return std::erase(mac.callbacks, std::pair {f, p}) ? kCGErrorSuccess : kCGErrorNoneAvailable;
}
inline int CGDisplayIsBuiltin(CGDirectDisplayID id) { return !mac.displays.empty() && id == mac.displays[0]; }
inline std::size_t CGDisplayPixelsWide(CGDirectDisplayID) { return 0; }
inline std::size_t CGDisplayPixelsHigh(CGDirectDisplayID) { return 0; }
// The private DisplayServices framework, looked up in this program: the built-in panel only.
#define BACKLIGHT(name, type, body) [[gnu::used]] inline int name(CGDirectDisplayID id, type value) \
    { return mac.backlight.count(id) ? (body, 0) : 1; }
BACKLIGHT(DisplayServicesGetBrightness, float*, *value = mac.backlight[id].first)
BACKLIGHT(DisplayServicesSetBrightness, float, mac.backlight[id].first = value)
BACKLIGHT(DisplayServicesAmbientLightCompensationEnabled, bool*, *value = mac.backlight[id].second)
BACKLIGHT(DisplayServicesEnableAmbientLightCompensation, bool, mac.backlight[id].second = value)
// IOKit registry: the display services sit deep in the tree, reached only recursively.
inline const mach_port_t kIOMainPortDefault = MACH_PORT_NULL;
inline io_registry_entry_t IORegistryGetRootEntry(mach_port_t) { return 1; }
inline kern_return_t IORegistryEntryCreateIterator(io_registry_entry_t root, const io_name_t plane, IOOptionBits options,
    io_iterator_t* walk)
{
    mac.walkAt = (options & kIORegistryIterateRecursively) ? 0 : mac.registry.size();
    return *walk = 2, root == 1 && std::strcmp(plane, kIOServicePlane) == 0 ? KERN_SUCCESS : 1;
}
inline io_object_t IOIteratorNext(io_iterator_t) { return mac.walkAt < mac.registry.size() ? 10 + mac.walkAt++ : IO_OBJECT_NULL; }
inline kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name)
{
    return std::strncpy(name, mac.registry.at(entry - 10).first.c_str(), 127), KERN_SUCCESS;
}
inline CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t e, const io_name_t, CFStringRef key, CFAllocatorRef,
    IOOptionBits)
{
    const std::string& location = mac.registry.at(e - 10).second;
    return mac.object(key)->text == "Location" && !location.empty() ? mac.create({mac.stringType, location}) : nullptr;
}
inline kern_return_t IOObjectRelease(io_object_t) { return KERN_SUCCESS; }
// The private IOAVService functions, found by dlsym among the loaded images.
[[gnu::used]] inline CFTypeRef IOAVServiceCreateWithService(CFAllocatorRef, io_service_t service)
{
    return mac.create({mac.avServiceType, {}, service - 10});
}
[[gnu::used]] inline IOReturn IOAVServiceWriteI2C(CFTypeRef s, std::uint32_t chip, std::uint32_t at, void* in, std::uint32_t n)
{
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    return mac.transfers.emplace_back(mac.object(s)->entry, chip, at, std::vector(bytes, bytes + n)), KERN_SUCCESS;
}
[[gnu::used]] inline IOReturn IOAVServiceReadI2C(CFTypeRef s, std::uint32_t chip, std::uint32_t at, void* out, std::uint32_t n)
{
    mac.transfers.emplace_back(mac.object(s)->entry, chip, at, std::vector<std::uint8_t>());
    std::copy_n(mac.i2cReply.begin(), std::min<std::size_t>(n, mac.i2cReply.size()), static_cast<std::uint8_t*>(out));
    return mac.i2cReply.empty() ? 1 : KERN_SUCCESS;
}
inline io_connect_t IORegisterForSystemPower(void* ref, IONotificationPortRef* port, IOServiceInterestCallback f, io_object_t* n)
{
    mac.power = {f, ref};
    *port = (IONotificationPortRef) &mac.notifyPort;
    *n = mac.powerNotifier;
    return mac.rootPort;
}
inline IOReturn IODeregisterForSystemPower(io_object_t* n) { return *n == mac.powerNotifier ? (mac.power = {}, 0) : 1; }
inline IOReturn IOAllowPowerChange(io_connect_t p, intptr_t id) { return p == mac.rootPort ? (mac.allowed.push_back(id), 0) : 1; }
inline kern_return_t IOServiceClose(io_connect_t) { return KERN_SUCCESS; }
inline CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef) { return (CFRunLoopSourceRef) &mac.source; }
inline void IONotificationPortDestroy(IONotificationPortRef) {}
// Carbon hot keys: a handler hears presses only if it listens for them on the application.
inline EventTargetRef GetApplicationEventTarget(void) { return (EventTargetRef) &mac.applicationTarget; }
inline OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount count, const EventTypeSpec* types,
    void* userData, EventHandlerRef* ref)
{
    *ref = (EventHandlerRef) mac.nextRef++;
    if (target == GetApplicationEventTarget() && count == 1 && types->eventClass == kEventClassKeyboard
        && types->eventKind == kEventHotKeyPressed)
        mac.hotKeyHandlers[*ref] = {handler, userData};
    return noErr;
}
inline OSStatus RegisterEventHotKey(UInt32 keyCode, UInt32 mods, EventHotKeyID, EventTargetRef, OptionBits, EventHotKeyRef* ref)
{
    if (mac.takenHotKey == ScriptedMac::Key {keyCode, mods})
        return eventHotKeyExistsErr;
    *ref = (EventHotKeyRef) mac.nextRef++;
    return mac.hotKeys[*ref] = {keyCode, mods}, noErr;
}
inline OSStatus RemoveEventHandler(EventHandlerRef ref) { return mac.hotKeyHandlers.erase(ref) ? noErr : -50; }
inline OSStatus UnregisterEventHotKey(EventHotKeyRef ref) { return mac.hotKeys.erase(ref) ? noErr : -50; }
inline int proc_listpids(std::uint32_t type, std::uint32_t uid, void* buffer, int size)
{
    std::vector<int> pids;
    for (const ScriptedMac::Process& p : mac.processes)
        if (type == PROC_RUID_ONLY && p.ruid == uid && (!buffer || pids.size() < size / sizeof(int)))
            pids.push_back(p.pid);
    std::ranges::copy(buffer ? pids : std::vector<int>(), static_cast<int*>(buffer));
    return static_cast<int>(pids.size() * sizeof(int));
}
inline int proc_pidpath(int pid, void* buffer, std::uint32_t size)
{
    for (const ScriptedMac::Process& p : mac.processes)
        if (p.pid == pid && !p.path.empty() && p.path.size() < size)
            return std::strcpy(static_cast<char*>(buffer), p.path.c_str()), static_cast<int>(p.path.size());
    return 0;
}
}  // extern "C"
