// The stand-in system calls, over the scripted machine of FakeMacSystem.h.
#include "FakeMacSystem.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ranges>
#include <regex>

namespace {

enum TypeID : CFTypeID { stringType = 7, urlType = 29, bundleType = 31, avServiceType = 100 };
// A CoreFoundation object here: a string's text, a URL's or bundle's path, an AV service's registry entry.
struct Object { CFTypeID type; std::string text; std::size_t entry = 0; };

FakeMac::System machine;
std::size_t walkAt;  // the registry walk's next entry; handles: 1 the root, 2 the walk, 10 + i entry i
std::pair<IOServiceInterestCallback, void*> power;
bool powerOnMainRunLoop;
intptr_t nextRef = 1;
int mainRunLoop, notifyPort, runLoopSource, applicationTarget;
const io_connect_t rootPowerPort = 4242, powerNotifier = 4243;
const auto powerSource = reinterpret_cast<CFRunLoopSourceRef>(&runLoopSource);

const Object* newObject(CFTypeID type, std::string text, std::size_t entry = 0)
{
    ++machine.liveObjects;
    return new Object {type, std::move(text), entry};
}
const Object* object(CFTypeRef ref) { return static_cast<const Object*>(ref); }
bool exists(CGDirectDisplayID id) { return std::ranges::count(machine.displays, id) > 0; }

}  // namespace

FakeMac::System& FakeMac::reset()
{
    machine = System {};
    machine.displays = {1, 2};
    machine.backlight = {{1, {0.4F, true}}};
    // The built-in panel's service, an entry of the wrong kind, the monitor's, one without a place.
    machine.registry = {{"DCPAVServiceProxy", "Embedded"}, {"AppleCLCD2", "External"}, {"DCPAVServiceProxy", "External"},
        {"DCPAVServiceProxy", ""}};
    // Get VCP Feature reply for luminance: max 100, current 50.
    machine.i2cReply = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00, 0x00};
    power = {};
    powerOnMainRunLoop = false;
    return machine;
}

int FakeMac::reconfigure(CGDirectDisplayID display, CGDisplayChangeSummaryFlags flags)
{
    const auto callbacks = machine.reconfigurationCallbacks;
    for (const auto& [callback, userInfo] : callbacks)
        callback(display, flags, userInfo);
    return static_cast<int>(callbacks.size());
}

int FakeMac::pressHotKey(Key key)
{
    int reached = 0;
    for (const auto& [ref, handler] : machine.hotKeyHandlers)
        reached += std::ranges::count(std::views::values(machine.hotKeys), key) && handler.first(nullptr, nullptr, handler.second) == noErr;
    return reached;
}

int FakeMac::powerMessage(std::uint32_t messageType, intptr_t notificationID)
{
    const bool heard = power.first && powerOnMainRunLoop;
    if (heard)
        power.first(power.second, 0, messageType, reinterpret_cast<void*>(notificationID));
    return heard;
}

extern "C" {

// CoreFoundation. Constant strings and those a bundle hands out live as long as the process.
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFRunLoopMode kCFRunLoopCommonModes = CFSTR("kCFRunLoopCommonModes");
CFStringRef __CFStringMakeConstantString(const char* cStr)
{
    static std::map<std::string, Object> constants;
    return reinterpret_cast<CFStringRef>(&constants.try_emplace(cStr, Object {stringType, cStr}).first->second);
}
void CFRelease(CFTypeRef cf) { --machine.liveObjects, delete object(cf); }
CFTypeID CFGetTypeID(CFTypeRef cf) { return object(cf)->type; }
Boolean CFEqual(CFTypeRef a, CFTypeRef b) { return object(a)->type == object(b)->type && object(a)->text == object(b)->text; }
CFTypeID CFStringGetTypeID(void) { return stringType; }
// In UTF-16 units, as the system counts (all text here is within the Basic Multilingual Plane).
CFIndex CFStringGetLength(CFStringRef s) { return std::ranges::count_if(object(s)->text, [](char c) { return (c & 0xC0) != 0x80; }); }
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) { return length * 3; }
Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex size, CFStringEncoding)
{
    return static_cast<CFIndex>(object(s)->text.size()) < size && std::strcpy(buffer, object(s)->text.c_str());
}
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer, CFIndex length, Boolean)
{
    return reinterpret_cast<CFURLRef>(newObject(urlType, std::string(reinterpret_cast<const char*>(buffer), length)));
}
CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef url)
{
    const std::string& path = object(url)->text;
    return std::filesystem::is_directory(path) ? (CFBundleRef) const_cast<Object*>(newObject(bundleType, path)) : nullptr;
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
CFRunLoopRef CFRunLoopGetMain(void) { return reinterpret_cast<CFRunLoopRef>(&mainRunLoop); }
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode)
{
    powerOnMainRunLoop |= rl == CFRunLoopGetMain() && source == powerSource && mode == kCFRunLoopCommonModes;
}
void CFRunLoopRemoveSource(CFRunLoopRef, CFRunLoopSourceRef source, CFRunLoopMode) { powerOnMainRunLoop &= source != powerSource; }

// Quartz Display Services.
CGError CGGetActiveDisplayList(std::uint32_t max, CGDirectDisplayID* displays, std::uint32_t* count)
{
    *count = static_cast<std::uint32_t>(displays ? std::min<std::size_t>(max, machine.displays.size()) : machine.displays.size());
    std::copy_n(machine.displays.begin(), displays ? *count : 0, displays);
    return kCGErrorSuccess;
}
CGError CGSetDisplayTransferByTable(CGDirectDisplayID id, std::uint32_t size, const CGGammaValue* red, const CGGammaValue* green,
    const CGGammaValue* blue)
{
    machine.tableWrites.push_back({id, {red, red + size}, {green, green + size}, {blue, blue + size}});
    return exists(id) ? kCGErrorSuccess : kCGErrorNoneAvailable;
}
void CGDisplayRestoreColorSyncSettings(void) { ++machine.restores; }
CGError CGDisplayRegisterReconfigurationCallback(CGDisplayReconfigurationCallBack callback, void* userInfo)
{
    machine.reconfigurationCallbacks.emplace_back(callback, userInfo);
    return kCGErrorSuccess;
}
CGError CGDisplayRemoveReconfigurationCallback(CGDisplayReconfigurationCallBack callback, void* userInfo)
{
    return std::erase(machine.reconfigurationCallbacks, std::pair {callback, userInfo}) ? kCGErrorSuccess : kCGErrorNoneAvailable;
}
int CGDisplayIsBuiltin(CGDirectDisplayID id) { return exists(id) && id == machine.displays[0]; }
std::size_t CGDisplayPixelsWide(CGDirectDisplayID) { return 0; }
std::size_t CGDisplayPixelsHigh(CGDirectDisplayID) { return 0; }

// The private DisplayServices framework, opened by this library's path: the built-in panel only.
#define BACKLIGHT(name, type, body) \
    int name(CGDirectDisplayID id, type value) { return machine.backlight.count(id) ? (body, 0) : 1; }
BACKLIGHT(DisplayServicesGetBrightness, float*, *value = machine.backlight[id].first)
BACKLIGHT(DisplayServicesSetBrightness, float, machine.backlight[id].first = value)
BACKLIGHT(DisplayServicesAmbientLightCompensationEnabled, bool*, *value = machine.backlight[id].second)
BACKLIGHT(DisplayServicesEnableAmbientLightCompensation, bool, machine.backlight[id].second = value)

// IOKit registry: the display services sit deep in the tree, reached only recursively.
const mach_port_t kIOMainPortDefault = MACH_PORT_NULL;
io_registry_entry_t IORegistryGetRootEntry(mach_port_t) { return 1; }
kern_return_t IORegistryEntryCreateIterator(io_registry_entry_t root, const io_name_t plane, IOOptionBits options, io_iterator_t* iterator)
{
    walkAt = (options & kIORegistryIterateRecursively) ? 0 : machine.registry.size();
    *iterator = 2;
    return root == 1 && std::strcmp(plane, kIOServicePlane) == 0 ? KERN_SUCCESS : 1;
}
io_object_t IOIteratorNext(io_iterator_t) { return walkAt < machine.registry.size() ? 10 + walkAt++ : IO_OBJECT_NULL; }
kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name)
{
    return std::strncpy(name, machine.registry.at(entry - 10).name.c_str(), sizeof(io_name_t) - 1) ? KERN_SUCCESS : 1;
}
CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const io_name_t, CFStringRef key, CFAllocatorRef, IOOptionBits)
{
    const std::string& location = machine.registry.at(entry - 10).location;
    return object(key)->text == "Location" && !location.empty() ? newObject(stringType, location) : nullptr;
}
kern_return_t IOObjectRelease(io_object_t) { return KERN_SUCCESS; }
// The private IOAVService functions, found by dlsym among the loaded images.
CFTypeRef IOAVServiceCreateWithService(CFAllocatorRef, io_service_t service) { return newObject(avServiceType, {}, service - 10); }
IOReturn IOAVServiceWriteI2C(CFTypeRef service, std::uint32_t chip, std::uint32_t dataAddress, void* input, std::uint32_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(input);
    machine.transfers.push_back({object(service)->entry, chip, dataAddress, {bytes, bytes + size}});
    return KERN_SUCCESS;
}
IOReturn IOAVServiceReadI2C(CFTypeRef service, std::uint32_t chip, std::uint32_t offset, void* output, std::uint32_t size)
{
    machine.transfers.push_back({object(service)->entry, chip, offset, {}});
    std::memcpy(output, machine.i2cReply.data(), std::min<std::size_t>(size, machine.i2cReply.size()));
    return machine.i2cReply.empty() ? 1 : KERN_SUCCESS;
}

// System power.
io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* port, IOServiceInterestCallback callback, io_object_t* notifier)
{
    power = {callback, refcon};
    *port = reinterpret_cast<IONotificationPortRef>(&notifyPort);
    *notifier = powerNotifier;
    return rootPowerPort;
}
IOReturn IODeregisterForSystemPower(io_object_t* notifier) { return *notifier == powerNotifier ? (power = {}, KERN_SUCCESS) : 1; }
IOReturn IOAllowPowerChange(io_connect_t port, intptr_t id) { return port == rootPowerPort ? (machine.allowedPowerChanges.push_back(id), KERN_SUCCESS) : 1; }
kern_return_t IOServiceClose(io_connect_t) { return KERN_SUCCESS; }
CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef port) { return port == (void*) &notifyPort ? powerSource : nullptr; }
void IONotificationPortDestroy(IONotificationPortRef) {}

// Carbon hot keys: a handler hears presses only if it listens for them on the application.
EventTargetRef GetApplicationEventTarget(void) { return reinterpret_cast<EventTargetRef>(&applicationTarget); }
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount count, const EventTypeSpec* types, void* userData,
    EventHandlerRef* outRef)
{
    *outRef = reinterpret_cast<EventHandlerRef>(nextRef++);
    if (target == GetApplicationEventTarget() && count == 1 && types->eventClass == kEventClassKeyboard && types->eventKind == kEventHotKeyPressed)
        machine.hotKeyHandlers[*outRef] = {handler, userData};
    return noErr;
}
OSStatus RemoveEventHandler(EventHandlerRef ref) { return machine.hotKeyHandlers.erase(ref) ? noErr : -50; }
OSStatus RegisterEventHotKey(UInt32 keyCode, UInt32 mods, EventHotKeyID, EventTargetRef, OptionBits, EventHotKeyRef* outRef)
{
    if (machine.takenHotKey == FakeMac::Key {keyCode, mods})
        return eventHotKeyExistsErr;
    *outRef = reinterpret_cast<EventHotKeyRef>(nextRef++);
    machine.hotKeys[*outRef] = {keyCode, mods};
    return noErr;
}
OSStatus UnregisterEventHotKey(EventHotKeyRef ref) { return machine.hotKeys.erase(ref) ? noErr : -50; }

// libproc.
int proc_listpids(std::uint32_t type, std::uint32_t uid, void* buffer, int size)
{
    std::vector<int> pids;
    for (const auto& p : machine.processes) {
        if (type == PROC_RUID_ONLY && p.ruid == uid)
            pids.push_back(p.pid);
    }
    pids.resize(buffer ? std::min(pids.size(), static_cast<std::size_t>(size) / sizeof(int)) : pids.size());
    std::copy_n(pids.begin(), buffer ? pids.size() : 0, static_cast<int*>(buffer));
    return static_cast<int>(pids.size() * sizeof(int));
}
int proc_pidpath(int pid, void* buffer, std::uint32_t size)
{
    const auto p = std::ranges::find_if(machine.processes, [&](const auto& p) { return p.pid == pid && !p.path.empty() && p.path.size() < size; });
    return p == machine.processes.end() ? 0 : static_cast<int>(std::strlen(std::strcpy(static_cast<char*>(buffer), p->path.c_str())));
}

}  // extern "C"
