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
    bool constant = false;
    std::map<std::string, Object*> values;
};

FakeMac::System machine;
std::map<io_object_t, int> ioObjects;  // registry index of an entry, -1 for the root, -2 - next for an iterator
io_object_t nextHandle = 1;
struct {
    IOServiceInterestCallback callback = nullptr;
    void* refcon = nullptr;
    bool onMainRunLoop = false;
} power;
int mainRunLoop, notifyPort, runLoopSource, applicationTarget;
const io_connect_t rootPowerPort = 4242;
const io_object_t powerNotifier = 4343;

Object* newObject(CFTypeID type, std::string text = {})
{
    ++machine.liveObjects;
    return new Object {type, std::move(text), -1, false, {}};
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

System& reset()
{
    machine = System {};
    machine.displays = {{1, true, 3024, 1964}, {2, false, 2560, 1440}};
    machine.backlight = {{1, 0.4F}};
    machine.ambientLight = {{1, true}};
    machine.registry = {{"AppleARMPE", ""}, {"DCPAVServiceProxy", "Embedded"},  // the built-in panel
        {"AppleCLCD2", "External"},                                              // right place, wrong kind of entry
        {"DCPAVServiceProxy", "External"},                                       // the monitor
        {"DCPAVServiceProxy", "#1"}, {"DCPAVServiceProxy", ""}};
    // Get VCP Feature reply for luminance: max 100, current 50.
    machine.i2cReply = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00, 0x00};
    ioObjects.clear();
    power = {};
    return machine;
}

System& system() { return machine; }

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
    if (!power.callback || !power.onMainRunLoop)
        return 0;
    power.callback(power.refcon, 0, messageType, reinterpret_cast<void*>(notificationID));
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
    const auto it = constants.try_emplace(cStr, Object {stringType, cStr, -1, true, {}}).first;
    return reinterpret_cast<CFStringRef>(&it->second);
}

void CFRelease(CFTypeRef cf)
{
    const Object* o = object(cf);
    if (o->constant)
        return;
    for (const auto& [key, value] : o->values)
        CFRelease(value);
    --machine.liveObjects;
    delete o;
}

CFTypeID CFGetTypeID(CFTypeRef cf) { return object(cf)->type; }
Boolean CFEqual(CFTypeRef a, CFTypeRef b) { return object(a)->type == object(b)->type && object(a)->text == object(b)->text; }
CFTypeID CFStringGetTypeID(void) { return stringType; }
CFIndex CFStringGetLength(CFStringRef s) { return static_cast<CFIndex>(object(s)->text.size()); }
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) { return length * 3; }

Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex bufferSize, CFStringEncoding)
{
    const std::string& text = object(s)->text;
    if (static_cast<CFIndex>(text.size()) >= bufferSize)
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
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
    if (!b->values.count(name)) {
        std::ifstream in(b->text + "/Contents/Info.plist");
        const std::string plist(std::istreambuf_iterator<char>(in), {});
        const std::size_t at = plist.find("<key>" + name + "</key><string>");
        if (at == std::string::npos)
            return nullptr;
        const std::size_t start = at + name.size() + 19;
        b->values[name] = newObject(stringType, plist.substr(start, plist.find("</string>", start) - start));
    }
    return b->values[name];
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle)
{
    return static_cast<CFStringRef>(CFBundleGetValueForInfoDictionaryKey(bundle, CFSTR("CFBundleIdentifier")));
}

CFRunLoopRef CFRunLoopGetMain(void) { return reinterpret_cast<CFRunLoopRef>(&mainRunLoop); }

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode)
{
    power.onMainRunLoop |= rl == CFRunLoopGetMain() && source == reinterpret_cast<CFRunLoopSourceRef>(&runLoopSource)
        && mode == kCFRunLoopCommonModes;
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode)
{
    power.onMainRunLoop &= !(rl == CFRunLoopGetMain() && source == reinterpret_cast<CFRunLoopSourceRef>(&runLoopSource));
}

// Quartz Display Services.
CGError CGGetActiveDisplayList(std::uint32_t maxDisplays, CGDirectDisplayID* activeDisplays, std::uint32_t* displayCount)
{
    *displayCount = static_cast<std::uint32_t>(activeDisplays ? std::min<std::size_t>(maxDisplays, machine.displays.size()) : machine.displays.size());
    for (std::uint32_t i = 0; activeDisplays && i < *displayCount; ++i)
        activeDisplays[i] = machine.displays[i].id;
    return kCGErrorSuccess;
}

CGError CGSetDisplayTransferByTable(CGDirectDisplayID id, std::uint32_t size, const CGGammaValue* red, const CGGammaValue* green, const CGGammaValue* blue)
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
    const int next = -2 - ioObjects.at(iterator);
    if (next >= static_cast<int>(machine.registry.size()))
        return IO_OBJECT_NULL;
    --ioObjects[iterator];
    return newIO(next);
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
    if (handle == powerNotifier)
        return KERN_SUCCESS;
    machine.liveObjects -= static_cast<int>(ioObjects.erase(handle));
    return KERN_SUCCESS;
}

// The private IOAVService functions, found by dlsym among the loaded images.
CFTypeRef IOAVServiceCreateWithService(CFAllocatorRef, io_service_t service)
{
    Object* av = newObject(avServiceType);
    av->entry = ioObjects.at(service);
    return av;
}

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
    power = {callback, refcon, false};
    *port = reinterpret_cast<IONotificationPortRef>(&notifyPort);
    *notifier = powerNotifier;
    return rootPowerPort;
}

IOReturn IODeregisterForSystemPower(io_object_t* notifier)
{
    if (*notifier == powerNotifier)
        power.callback = nullptr;
    return KERN_SUCCESS;
}

IOReturn IOAllowPowerChange(io_connect_t kernelPort, intptr_t notificationID)
{
    if (kernelPort == rootPowerPort)
        machine.allowedPowerChanges.push_back(notificationID);
    return KERN_SUCCESS;
}

kern_return_t IOServiceClose(io_connect_t) { return KERN_SUCCESS; }

CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef port)
{
    return port == reinterpret_cast<IONotificationPortRef>(&notifyPort) ? reinterpret_cast<CFRunLoopSourceRef>(&runLoopSource) : nullptr;
}

void IONotificationPortDestroy(IONotificationPortRef) {}

// Carbon hot keys: a handler hears presses only if it listens for them on the application.
EventTargetRef GetApplicationEventTarget(void) { return reinterpret_cast<EventTargetRef>(&applicationTarget); }

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount count, const EventTypeSpec* types, void* userData, EventHandlerRef* outRef)
{
    static intptr_t next = 1;
    *outRef = reinterpret_cast<EventHandlerRef>(next++);
    if (target == GetApplicationEventTarget() && std::any_of(types, types + count, [](const EventTypeSpec& t) {
            return t.eventClass == kEventClassKeyboard && t.eventKind == kEventHotKeyPressed;
        }))
        machine.hotKeyHandlers[*outRef] = {handler, userData};
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef ref)
{
    machine.hotKeyHandlers.erase(ref);
    return noErr;
}

OSStatus RegisterEventHotKey(UInt32 keyCode, UInt32 mods, EventHotKeyID, EventTargetRef, OptionBits, EventHotKeyRef* outRef)
{
    static intptr_t next = 1;
    if (machine.takenHotKeys.count({keyCode, mods}))
        return eventHotKeyExistsErr;
    *outRef = reinterpret_cast<EventHotKeyRef>(next++);
    machine.hotKeys[*outRef] = {keyCode, mods};
    return noErr;
}

OSStatus UnregisterEventHotKey(EventHotKeyRef ref)
{
    machine.hotKeys.erase(ref);
    return noErr;
}

// libproc.
int proc_listpids(std::uint32_t type, std::uint32_t uid, void* buffer, int size)
{
    std::vector<int> pids;
    for (const auto& p : machine.processes) {
        if (type == PROC_RUID_ONLY && p.ruid == uid)
            pids.push_back(p.pid);
    }
    const std::size_t count = buffer ? std::min(pids.size(), static_cast<std::size_t>(size) / sizeof(int)) : pids.size();
    if (buffer)
        std::memcpy(buffer, pids.data(), count * sizeof(int));
    return static_cast<int>(count * sizeof(int));
}

int proc_pidpath(int pid, void* buffer, std::uint32_t size)
{
    for (const auto& p : machine.processes) {
        if (p.pid == pid && !p.path.empty() && p.path.size() < size) {
            std::memcpy(buffer, p.path.c_str(), p.path.size() + 1);
            return static_cast<int>(p.path.size());
        }
    }
    return 0;
}

}  // extern "C"
