// The stand-in system calls, over the scripted machine of FakeMacSystem.h.
#include "FakeMacSystem.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {

enum TypeID : CFTypeID { stringType = 7, numberType = 22, urlType = 29, bundleType = 31, avServiceType = 100 };

// Every CoreFoundation object of this fake: a string's text, a URL's or bundle's path, an AV
// service's registry entry; a bundle owns the Info.plist strings it handed out.
struct Object {
    CFTypeID type;
    std::string text;
    int entry = -1;
    std::map<std::string, Object*> values = {};
};

FakeMac::System machine;
std::map<io_object_t, int> ioObjects;  // an entry's registry index; -1 the root; -2 - next an iterator
io_object_t nextHandle = 1;
IOServiceInterestCallback powerCallback;
void* powerRefcon;
bool powerOnMainRunLoop;
int mainRunLoop, notifyPort, runLoopSource, applicationTarget;
const io_connect_t rootPowerPort = 4242;
const io_object_t powerNotifier = 4343;
const auto powerSource = reinterpret_cast<CFRunLoopSourceRef>(&runLoopSource);

Object* newObject(CFTypeID type, std::string text = {}, int entry = -1)
{
    ++machine.liveObjects;
    return new Object {type, std::move(text), entry};
}
const Object* object(CFTypeRef ref) { return static_cast<const Object*>(ref); }
io_object_t newIO(int value)
{
    ++machine.liveObjects;
    ioObjects[nextHandle] = value;
    return nextHandle++;
}
const FakeMac::Display* display(CGDirectDisplayID id)
{
    const auto it = std::find_if(machine.displays.begin(), machine.displays.end(), [id](const auto& d) { return d.id == id; });
    return it == machine.displays.end() ? nullptr : &*it;
}

}  // namespace

namespace FakeMac {

System& system() { return machine; }

System& reset()
{
    machine = System {};
    machine.displays = {{1, true, 3024, 1964}, {2, false, 2560, 1440}};
    machine.backlight = {{1, 0.4F}};
    machine.ambientLight = {{1, true}};
    // The built-in panel's service, an entry of the wrong kind, the monitor's, odd locations.
    machine.registry = {{"AppleARMPE", ""}, {"DCPAVServiceProxy", "Embedded"}, {"AppleCLCD2", "External"},
        {"DCPAVServiceProxy", "External"}, {"DCPAVServiceProxy", "#1"}, {"DCPAVServiceProxy", ""}};
    // Get VCP Feature reply for luminance: max 100, current 50.
    machine.i2cReply = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00, 0x00};
    ioObjects.clear();
    powerCallback = nullptr;
    powerOnMainRunLoop = false;
    return machine;
}

int reconfigure(CGDirectDisplayID display, CGDisplayChangeSummaryFlags flags)
{
    const auto callbacks = machine.reconfigurationCallbacks;
    for (const auto& [callback, userInfo] : callbacks)
        callback(display, flags, userInfo);
    return static_cast<int>(callbacks.size());
}

int pressHotKey(UInt32 keyCode, UInt32 mods)
{
    int reached = 0;
    for (const auto& [ref, key] : machine.hotKeys) {
        for (const auto& [id, handler] : machine.hotKeyHandlers)
            reached += key == std::pair {keyCode, mods} && handler.first(nullptr, nullptr, handler.second) == noErr;
    }
    return reached;
}

int powerMessage(std::uint32_t messageType, intptr_t notificationID)
{
    if (!powerCallback || !powerOnMainRunLoop)
        return 0;
    powerCallback(powerRefcon, 0, messageType, reinterpret_cast<void*>(notificationID));
    return 1;
}

}  // namespace FakeMac

extern "C" {

// CoreFoundation.
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFRunLoopMode kCFRunLoopCommonModes = CFSTR("kCFRunLoopCommonModes");
CFStringRef __CFStringMakeConstantString(const char* cStr)
{
    static std::map<std::string, Object> constants;
    return reinterpret_cast<CFStringRef>(&constants.try_emplace(cStr, Object {stringType, cStr}).first->second);
}
void CFRelease(CFTypeRef cf)
{
    for (const auto& [key, value] : object(cf)->values)
        CFRelease(value);
    --machine.liveObjects;
    delete object(cf);
}
CFTypeID CFGetTypeID(CFTypeRef cf) { return object(cf)->type; }
Boolean CFEqual(CFTypeRef a, CFTypeRef b) { return object(a)->type == object(b)->type && object(a)->text == object(b)->text; }
CFTypeID CFStringGetTypeID(void) { return stringType; }
// In UTF-16 units, as the system counts (all text here is within the Basic Multilingual Plane).
CFIndex CFStringGetLength(CFStringRef s)
{
    return std::count_if(object(s)->text.begin(), object(s)->text.end(), [](char c) { return (c & 0xC0) != 0x80; });
}
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) { return length * 3; }
Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex size, CFStringEncoding)
{
    const std::string& text = object(s)->text;
    return static_cast<CFIndex>(text.size()) < size && std::memcpy(buffer, text.c_str(), text.size() + 1);
}
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer, CFIndex length, Boolean)
{
    return reinterpret_cast<CFURLRef>(newObject(urlType, std::string(reinterpret_cast<const char*>(buffer), length)));
}
CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef url)
{
    struct stat info {};
    const std::string& path = object(url)->text;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? reinterpret_cast<CFBundleRef>(newObject(bundleType, path)) : nullptr;
}
// The string after <key>name</key> in the bundle's XML Info.plist.
CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key)
{
    auto* b = reinterpret_cast<Object*>(bundle);
    const std::string& name = object(key)->text;
    std::ifstream in(b->text + "/Contents/Info.plist");
    const std::string plist(std::istreambuf_iterator<char>(in), {});
    const std::size_t at = plist.find("<key>" + name + "</key><string>");
    if (at != std::string::npos && !b->values.count(name)) {
        const std::size_t start = at + name.size() + 19;
        b->values[name] = newObject(stringType, plist.substr(start, plist.find("</string>", start) - start));
    }
    return b->values.count(name) ? b->values[name] : nullptr;
}
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle)
{
    return static_cast<CFStringRef>(CFBundleGetValueForInfoDictionaryKey(bundle, CFSTR("CFBundleIdentifier")));
}
CFRunLoopRef CFRunLoopGetMain(void) { return reinterpret_cast<CFRunLoopRef>(&mainRunLoop); }
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode)
{
    powerOnMainRunLoop |= rl == CFRunLoopGetMain() && source == powerSource && mode == kCFRunLoopCommonModes;
}
void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode)
{
    powerOnMainRunLoop &= !(rl == CFRunLoopGetMain() && source == powerSource);
}

// Quartz Display Services.
CGError CGGetActiveDisplayList(std::uint32_t max, CGDirectDisplayID* displays, std::uint32_t* count)
{
    *count = static_cast<std::uint32_t>(displays ? std::min<std::size_t>(max, machine.displays.size()) : machine.displays.size());
    for (std::uint32_t i = 0; displays && i < *count; ++i)
        displays[i] = machine.displays[i].id;
    return kCGErrorSuccess;
}
CGError CGSetDisplayTransferByTable(CGDirectDisplayID id, std::uint32_t size, const CGGammaValue* red, const CGGammaValue* green,
    const CGGammaValue* blue)
{
    machine.tableWrites.push_back({id, {red, red + size}, {green, green + size}, {blue, blue + size}});
    return display(id) ? display(id)->gammaError : kCGErrorNoneAvailable;
}
void CGDisplayRestoreColorSyncSettings(void) { ++machine.restores; }
CGError CGDisplayRegisterReconfigurationCallback(CGDisplayReconfigurationCallBack callback, void* userInfo)
{
    machine.reconfigurationCallbacks.emplace_back(callback, userInfo);
    return kCGErrorSuccess;
}
CGError CGDisplayRemoveReconfigurationCallback(CGDisplayReconfigurationCallBack callback, void* userInfo)
{
    std::erase(machine.reconfigurationCallbacks, std::pair {callback, userInfo});
    return kCGErrorSuccess;
}
int CGDisplayIsBuiltin(CGDirectDisplayID id) { return display(id) && display(id)->builtin; }
std::size_t CGDisplayPixelsWide(CGDirectDisplayID id) { return display(id) ? display(id)->wide : 0; }
std::size_t CGDisplayPixelsHigh(CGDirectDisplayID id) { return display(id) ? display(id)->high : 0; }

// IOKit registry: the display services sit deep in the tree, reached only recursively.
const mach_port_t kIOMainPortDefault = MACH_PORT_NULL;
io_registry_entry_t IORegistryGetRootEntry(mach_port_t) { return newIO(-1); }
kern_return_t IORegistryEntryCreateIterator(io_registry_entry_t root, const io_name_t plane, IOOptionBits options, io_iterator_t* iterator)
{
    if (ioObjects.at(root) != -1 || std::strcmp(plane, kIOServicePlane) != 0)
        return 1;
    *iterator = newIO((options & kIORegistryIterateRecursively) ? -2 : -2 - static_cast<int>(machine.registry.size()));
    return KERN_SUCCESS;
}
io_object_t IOIteratorNext(io_iterator_t iterator)
{
    const int next = -2 - ioObjects.at(iterator)--;
    return next < static_cast<int>(machine.registry.size()) ? newIO(next) : IO_OBJECT_NULL;
}
kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name)
{
    std::strncpy(name, machine.registry.at(ioObjects.at(entry)).name.c_str(), sizeof(io_name_t) - 1);
    return KERN_SUCCESS;
}
CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const io_name_t, CFStringRef key, CFAllocatorRef, IOOptionBits)
{
    const std::string& location = machine.registry.at(ioObjects.at(entry)).location;
    if (object(key)->text != "Location" || location.empty())
        return nullptr;
    return location[0] == '#' ? newObject(numberType, location.substr(1)) : newObject(stringType, location);
}
kern_return_t IOObjectRelease(io_object_t handle)
{
    machine.liveObjects -= static_cast<int>(ioObjects.erase(handle));
    return KERN_SUCCESS;
}
// The private IOAVService functions, found by dlsym among the loaded images.
CFTypeRef IOAVServiceCreateWithService(CFAllocatorRef, io_service_t service) { return newObject(avServiceType, {}, ioObjects.at(service)); }
IOReturn IOAVServiceWriteI2C(CFTypeRef service, std::uint32_t chip, std::uint32_t dataAddress, void* input, std::uint32_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(input);
    machine.transfers.push_back({true, object(service)->entry, chip, dataAddress, {bytes, bytes + size}});
    return KERN_SUCCESS;
}
IOReturn IOAVServiceReadI2C(CFTypeRef service, std::uint32_t chip, std::uint32_t offset, void* output, std::uint32_t size)
{
    machine.transfers.push_back({false, object(service)->entry, chip, offset, {}});
    if (machine.i2cReply.empty())
        return 1;
    std::memcpy(output, machine.i2cReply.data(), std::min<std::size_t>(size, machine.i2cReply.size()));
    return KERN_SUCCESS;
}

// System power.
io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* port, IOServiceInterestCallback callback, io_object_t* notifier)
{
    powerCallback = callback;
    powerRefcon = refcon;
    *port = reinterpret_cast<IONotificationPortRef>(&notifyPort);
    *notifier = powerNotifier;
    return rootPowerPort;
}
IOReturn IODeregisterForSystemPower(io_object_t* notifier)
{
    powerCallback = *notifier == powerNotifier ? nullptr : powerCallback;
    return KERN_SUCCESS;
}
IOReturn IOAllowPowerChange(io_connect_t port, intptr_t notificationID)
{
    if (port == rootPowerPort)
        machine.allowedPowerChanges.push_back(notificationID);
    return KERN_SUCCESS;
}
kern_return_t IOServiceClose(io_connect_t) { return KERN_SUCCESS; }
CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef port)
{
    return port == reinterpret_cast<IONotificationPortRef>(&notifyPort) ? powerSource : nullptr;
}
void IONotificationPortDestroy(IONotificationPortRef) {}

// Carbon hot keys: a handler hears presses only if it listens for them on the application.
EventTargetRef GetApplicationEventTarget(void) { return reinterpret_cast<EventTargetRef>(&applicationTarget); }
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount count, const EventTypeSpec* types, void* userData,
    EventHandlerRef* outRef)
{
    static intptr_t next = 1;
    *outRef = reinterpret_cast<EventHandlerRef>(next++);
    if (target == GetApplicationEventTarget() && std::any_of(types, types + count, [](const EventTypeSpec& t) {
            return t.eventClass == kEventClassKeyboard && t.eventKind == kEventHotKeyPressed;
        }))
        machine.hotKeyHandlers[*outRef] = {handler, userData};
    return noErr;
}
OSStatus RemoveEventHandler(EventHandlerRef ref) { return machine.hotKeyHandlers.erase(ref) ? noErr : -50; }
OSStatus RegisterEventHotKey(UInt32 keyCode, UInt32 mods, EventHotKeyID, EventTargetRef, OptionBits, EventHotKeyRef* outRef)
{
    static intptr_t next = 1;
    if (machine.takenHotKeys.count({keyCode, mods}))
        return eventHotKeyExistsErr;
    *outRef = reinterpret_cast<EventHotKeyRef>(next++);
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
    if (buffer) {
        pids.resize(std::min(pids.size(), static_cast<std::size_t>(size) / sizeof(int)));
        std::memcpy(buffer, pids.data(), pids.size() * sizeof(int));
    }
    return static_cast<int>(pids.size() * sizeof(int));
}
int proc_pidpath(int pid, void* buffer, std::uint32_t size)
{
    for (const auto& p : machine.processes) {
        if (p.pid == pid && !p.path.empty() && p.path.size() < size)
            return static_cast<int>(std::strlen(std::strcpy(static_cast<char*>(buffer), p.path.c_str())));
    }
    return 0;
}

}  // extern "C"
