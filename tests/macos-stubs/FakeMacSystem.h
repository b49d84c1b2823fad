#pragma once
// The scripted Mac behind the stand-in SDK: what a test sets up, what the backends called, and
// the system calls over it, defined here for the one file of the test program that includes it.
#include "StandInSDK.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <vector>

namespace FakeMac {

struct TableWrite { CGDirectDisplayID display; std::vector<float> red, green, blue; };
// entry: the service's index in the registry; a read sends no bytes.
struct Transfer { std::size_t entry; std::uint32_t chip, dataAddress; std::vector<std::uint8_t> bytes; };
struct Process { int pid; std::uint32_t ruid; std::string path; };  // path "": gone, or not ours to inspect
using Key = std::pair<UInt32, UInt32>;  // key code, modifier mask
// A CoreFoundation object: a string's text, a URL's or bundle's path, an AV service's registry entry.
struct Object { CFTypeID type; std::string text; std::size_t entry = 0; };
enum TypeID : CFTypeID { stringType = 7, urlType, bundleType, avServiceType };

struct System {
    std::vector<CGDirectDisplayID> displays {1, 2};  // the built-in panel, an external monitor
    std::vector<TableWrite> tableWrites;
    int restores = 0;
    std::vector<std::pair<CGDisplayReconfigurationCallBack, void*>> reconfigurationCallbacks;
    std::map<CGDirectDisplayID, std::pair<float, bool>> backlight {{1, {0.4F, true}}};  // level, ambient light compensation
    // Service names and "Location": the built-in panel's, one of the wrong kind, the monitor's, one without.
    std::vector<std::pair<std::string, std::string>> registry {
        {"DCPAVServiceProxy", "Embedded"}, {"AppleCLCD2", "External"}, {"DCPAVServiceProxy", "External"}, {"DCPAVServiceProxy", ""}};
    std::size_t walkAt = 0;  // the registry walk's next entry; handles: 1 the root, 2 the walk, 10 + i entry i
    // Get VCP Feature reply for luminance: max 100, current 50.
    std::vector<std::uint8_t> i2cReply {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00, 0x00};
    std::vector<Transfer> transfers;
    Key takenHotKey;  // held by another program
    std::map<EventHotKeyRef, Key> hotKeys;
    std::map<EventHandlerRef, std::pair<EventHandlerUPP, void*>> hotKeyHandlers;  // those listening for presses
    std::pair<IOServiceInterestCallback, void*> power;
    bool powerOnMainRunLoop = false;  // power messages arrive only then
    std::vector<intptr_t> allowedPowerChanges;
    std::vector<Process> processes;
    int liveObjects = 0;  // CoreFoundation objects created and not yet released
} mac;

// Their addresses stand for the main run loop, the power port and its source, the application target.
int runLoop, notifyPort, powerSource, applicationTarget;
const io_connect_t rootPowerPort = 4242, powerNotifier = 4243;
intptr_t nextRef = 1;

const Object* object(CFTypeRef ref) { return static_cast<const Object*>(ref); }
const Object* newObject(CFTypeID type, std::string text, std::size_t entry = 0) { return ++mac.liveObjects, new Object {type, text, entry}; }
bool exists(CGDirectDisplayID id) { return std::ranges::count(mac.displays, id) > 0; }

}  // namespace FakeMac

using namespace FakeMac;

extern "C" {

// CoreFoundation. Constant strings, and those a bundle hands out, live as long as the process.
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFRunLoopMode kCFRunLoopCommonModes = CFSTR("kCFRunLoopCommonModes");
CFStringRef __CFStringMakeConstantString(const char* cStr)
{
    static std::map<std::string, Object> constants;
    return reinterpret_cast<CFStringRef>(&constants.try_emplace(cStr, Object {stringType, cStr}).first->second);
}
void CFRelease(CFTypeRef cf) { --mac.liveObjects, delete object(cf); }
CFTypeID CFGetTypeID(CFTypeRef cf) { return object(cf)->type; }
CFTypeID CFStringGetTypeID(void) { return stringType; }
Boolean CFEqual(CFTypeRef a, CFTypeRef b) { return object(a)->type == object(b)->type && object(a)->text == object(b)->text; }
// In UTF-16 units, as the system counts (all text here is within the Basic Multilingual Plane).
CFIndex CFStringGetLength(CFStringRef s) { return std::ranges::count_if(object(s)->text, [](char c) { return (c & 0xC0) != 0x80; }); }
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) { return length * 3; }
Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex size, CFStringEncoding)
{
    return CFIndex(object(s)->text.size()) < size && std::strcpy(buffer, object(s)->text.c_str());
}
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* path, CFIndex length, Boolean)
{
    return (CFURLRef) newObject(urlType, std::string((const char*) path, length));
}
CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef url)
{
    return std::filesystem::is_directory(object(url)->text) ? (CFBundleRef) newObject(bundleType, object(url)->text) : nullptr;
}
// The string after <key>name</key> in the bundle's XML Info.plist.
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key)
{
    std::ifstream in(object(bundle)->text + "/Contents/Info.plist");
    const std::string plist(std::istreambuf_iterator<char>(in), {});
    std::smatch value;
    const bool found = std::regex_search(plist, value, std::regex("<key>" + object(key)->text + "</key><string>([^<]*)</string>"));
    return found ? __CFStringMakeConstantString(value[1].str().c_str()) : nullptr;
}
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) { return (CFStringRef) CFBundleGetValueForInfoDictionaryKey(bundle, CFSTR("CFBundleIdentifier")); }
CFRunLoopRef CFRunLoopGetMain(void) { return (CFRunLoopRef) &runLoop; }
void CFRunLoopAddSource(CFRunLoopRef loop, CFRunLoopSourceRef source, CFRunLoopMode mode)
{
    mac.powerOnMainRunLoop |= loop == CFRunLoopGetMain() && source == (void*) &powerSource && mode == kCFRunLoopCommonModes;
}
void CFRunLoopRemoveSource(CFRunLoopRef, CFRunLoopSourceRef source, CFRunLoopMode) { mac.powerOnMainRunLoop &= source != (void*) &powerSource; }

// Quartz Display Services.
CGError CGGetActiveDisplayList(std::uint32_t max, CGDirectDisplayID* displays, std::uint32_t* count)
{
    *count = displays ? std::min<std::size_t>(max, mac.displays.size()) : mac.displays.size();
    std::copy_n(mac.displays.begin(), displays ? *count : 0, displays);
    return kCGErrorSuccess;
}
CGError CGSetDisplayTransferByTable(CGDirectDisplayID id, std::uint32_t size, const CGGammaValue* r, const CGGammaValue* g, const CGGammaValue* b)
{
    mac.tableWrites.push_back({id, {r, r + size}, {g, g + size}, {b, b + size}});
    return exists(id) ? kCGErrorSuccess : kCGErrorNoneAvailable;
}
void CGDisplayRestoreColorSyncSettings(void) { ++mac.restores; }
CGError CGDisplayRegisterReconfigurationCallback(CGDisplayReconfigurationCallBack f, void* p) { return mac.reconfigurationCallbacks.emplace_back(f, p), kCGErrorSuccess; }
CGError CGDisplayRemoveReconfigurationCallback(CGDisplayReconfigurationCallBack f, void* p) { return std::erase(mac.reconfigurationCallbacks, std::pair {f, p}) ? kCGErrorSuccess : kCGErrorNoneAvailable; }
int CGDisplayIsBuiltin(CGDirectDisplayID id) { return exists(id) && id == mac.displays[0]; }
std::size_t CGDisplayPixelsWide(CGDirectDisplayID) { return 0; }
std::size_t CGDisplayPixelsHigh(CGDirectDisplayID) { return 0; }

// The private DisplayServices framework, looked up in this program: the built-in panel only.
#define BACKLIGHT(name, type, body) \
    int name(CGDirectDisplayID id, type value) { return mac.backlight.count(id) ? (body, 0) : 1; }
BACKLIGHT(DisplayServicesGetBrightness, float*, *value = mac.backlight[id].first)
BACKLIGHT(DisplayServicesSetBrightness, float, mac.backlight[id].first = value)
BACKLIGHT(DisplayServicesAmbientLightCompensationEnabled, bool*, *value = mac.backlight[id].second)
BACKLIGHT(DisplayServicesEnableAmbientLightCompensation, bool, mac.backlight[id].second = value)

// IOKit registry: the display services sit deep in the tree, reached only recursively.
const mach_port_t kIOMainPortDefault = MACH_PORT_NULL;
io_registry_entry_t IORegistryGetRootEntry(mach_port_t) { return 1; }
kern_return_t IORegistryEntryCreateIterator(io_registry_entry_t root, const io_name_t plane, IOOptionBits options, io_iterator_t* walk)
{
    mac.walkAt = (options & kIORegistryIterateRecursively) ? 0 : mac.registry.size();
    *walk = 2;
    return root == 1 && std::strcmp(plane, kIOServicePlane) == 0 ? KERN_SUCCESS : 1;
}
io_object_t IOIteratorNext(io_iterator_t) { return mac.walkAt < mac.registry.size() ? 10 + mac.walkAt++ : IO_OBJECT_NULL; }
kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name) { return std::strncpy(name, mac.registry.at(entry - 10).first.c_str(), 127), KERN_SUCCESS; }
CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const io_name_t, CFStringRef key, CFAllocatorRef, IOOptionBits)
{
    const std::string& location = mac.registry.at(entry - 10).second;
    return object(key)->text == "Location" && !location.empty() ? newObject(stringType, location) : nullptr;
}
kern_return_t IOObjectRelease(io_object_t) { return KERN_SUCCESS; }
// The private IOAVService functions, found by dlsym among the loaded images.
CFTypeRef IOAVServiceCreateWithService(CFAllocatorRef, io_service_t service) { return newObject(avServiceType, {}, service - 10); }
IOReturn IOAVServiceWriteI2C(CFTypeRef service, std::uint32_t chip, std::uint32_t dataAddress, void* input, std::uint32_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(input);
    return mac.transfers.push_back({object(service)->entry, chip, dataAddress, {bytes, bytes + size}}), KERN_SUCCESS;
}
IOReturn IOAVServiceReadI2C(CFTypeRef service, std::uint32_t chip, std::uint32_t offset, void* output, std::uint32_t size)
{
    mac.transfers.push_back({object(service)->entry, chip, offset, {}});
    std::copy_n(mac.i2cReply.begin(), std::min<std::size_t>(size, mac.i2cReply.size()), static_cast<std::uint8_t*>(output));
    return mac.i2cReply.empty() ? 1 : KERN_SUCCESS;
}

// System power.
io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* port, IOServiceInterestCallback callback, io_object_t* notifier)
{
    mac.power = {callback, refcon};
    *port = (IONotificationPortRef) &notifyPort;
    *notifier = powerNotifier;
    return rootPowerPort;
}
IOReturn IODeregisterForSystemPower(io_object_t* notifier) { return *notifier == powerNotifier ? (mac.power = {}, KERN_SUCCESS) : 1; }
IOReturn IOAllowPowerChange(io_connect_t port, intptr_t id) { return port == rootPowerPort ? (mac.allowedPowerChanges.push_back(id), KERN_SUCCESS) : 1; }
kern_return_t IOServiceClose(io_connect_t) { return KERN_SUCCESS; }
CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef port) { return port == (void*) &notifyPort ? (CFRunLoopSourceRef) &powerSource : nullptr; }
void IONotificationPortDestroy(IONotificationPortRef) {}

// Carbon hot keys: a handler hears presses only if it listens for them on the application.
EventTargetRef GetApplicationEventTarget(void) { return (EventTargetRef) &applicationTarget; }
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount count, const EventTypeSpec* types, void* userData, EventHandlerRef* ref)
{
    *ref = (EventHandlerRef) nextRef++;
    if (target == GetApplicationEventTarget() && count == 1 && types->eventClass == kEventClassKeyboard && types->eventKind == kEventHotKeyPressed)
        mac.hotKeyHandlers[*ref] = {handler, userData};
    return noErr;
}
OSStatus RegisterEventHotKey(UInt32 keyCode, UInt32 mods, EventHotKeyID, EventTargetRef, OptionBits, EventHotKeyRef* ref)
{
    if (mac.takenHotKey == Key {keyCode, mods})
        return eventHotKeyExistsErr;
    *ref = (EventHotKeyRef) nextRef++;
    return mac.hotKeys[*ref] = {keyCode, mods}, noErr;
}
OSStatus RemoveEventHandler(EventHandlerRef ref) { return mac.hotKeyHandlers.erase(ref) ? noErr : -50; }
OSStatus UnregisterEventHotKey(EventHotKeyRef ref) { return mac.hotKeys.erase(ref) ? noErr : -50; }

// libproc.
int proc_listpids(std::uint32_t type, std::uint32_t uid, void* buffer, int size)
{
    std::vector<int> pids;
    for (const Process& p : mac.processes) {
        if (type == PROC_RUID_ONLY && p.ruid == uid)
            pids.push_back(p.pid);
    }
    pids.resize(buffer ? std::min(pids.size(), static_cast<std::size_t>(size) / sizeof(int)) : pids.size());
    std::copy_n(pids.begin(), buffer ? pids.size() : 0, static_cast<int*>(buffer));
    return static_cast<int>(pids.size() * sizeof(int));
}
int proc_pidpath(int pid, void* buffer, std::uint32_t size)
{
    const auto it = std::ranges::find_if(mac.processes, [&](const Process& p) { return p.pid == pid && !p.path.empty() && p.path.size() < size; });
    return it == mac.processes.end() ? 0 : static_cast<int>(std::strlen(std::strcpy(static_cast<char*>(buffer), it->path.c_str())));
}

}  // extern "C"
