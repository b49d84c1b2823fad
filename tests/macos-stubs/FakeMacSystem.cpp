// The stand-in system calls, over the scripted machine of FakeMacSystem.h.

#include "FakeMacSystem.h"

#include <IOKit/IOMessage.h>
#include <IOKit/pwr_mgt/IOPMLib.h>
#include <libproc.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

namespace {

enum TypeID : CFTypeID { stringType = 7, numberType = 22, urlType = 29, bundleType = 31, avServiceType = 100 };

// Every CoreFoundation object of this fake.
struct Object {
    CFTypeID type = 0;
    int references = 1;
    bool constant = false;
    std::string text;                 // string contents, URL path or bundle path
    int entry = -1;                   // registry index of an AV service
    std::map<std::string, const Object*> values;  // a bundle's Info.plist strings, owned by it
};

// IOKit objects: the registry root, iterators and entries, by handle.
struct IOObject {
    enum class Kind { root, iterator, entry } kind;
    int entry = -1;                 // registry index of an entry
    std::size_t next = 0;           // an iterator's position
};

FakeMac::System machine;
int liveCF = 0;
int liveCFAtReset = 0;  // so that one test's leak is not the next one's
std::map<io_object_t, IOObject> ioObjects;
io_object_t nextHandle = 1;

struct HotKeyRegistration {
    UInt32 keyCode, mods;
    EventHotKeyID id;
    EventTargetRef target;
};
struct Handler {
    EventTargetRef target;
    EventHandlerUPP proc;
    std::vector<EventTypeSpec> types;
    void* userData;
};
std::map<int, HotKeyRegistration> hotKeys;
std::map<int, Handler> handlers;
int nextKey = 1;

struct PowerRegistration {
    void* refcon = nullptr;
    IOServiceInterestCallback callback = nullptr;
    bool onMainRunLoop = false;
};
std::optional<PowerRegistration> power;

int applicationTarget, mainRunLoop, notifyPort, runLoopSource;
const io_connect_t rootPowerPort = 4242;
const io_object_t powerNotifier = 4343;

Object* newObject(CFTypeID type, std::string text = {})
{
    ++liveCF;
    auto* object = new Object;
    object->type = type;
    object->text = std::move(text);
    return object;
}

const Object* object(CFTypeRef ref)
{
    return static_cast<const Object*>(ref);
}

io_object_t newIO(IOObject io)
{
    const io_object_t handle = nextHandle++;
    ioObjects.emplace(handle, io);
    return handle;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The value after <key>name</key> in an XML property list.
std::optional<std::string> plistString(const std::string& plist, const std::string& name)
{
    const std::string key = "<key>" + name + "</key>";
    std::size_t at = plist.find(key);
    if (at == std::string::npos)
        return std::nullopt;
    at = plist.find("<string>", at + key.size());
    const std::size_t end = plist.find("</string>", at);
    if (at == std::string::npos || end == std::string::npos)
        return std::nullopt;
    return plist.substr(at + 8, end - at - 8);
}

}  // namespace

namespace FakeMac {

void reset()
{
    machine = System {};
    machine.displays = {{1, true, 3024, 1964}, {2, false, 2560, 1440}};
    machine.backlight = {{1, 0.4F}};
    machine.ambientLight = {{1, true}};
    using L = RegistryEntry::Location;
    machine.registry = {
        {"AppleARMPE", L::none, ""},
        {"DCPAVServiceProxy", L::string, "Embedded"},  // the built-in panel
        {"AppleCLCD2", L::string, "External"},         // right place, wrong kind of entry
        {"DCPAVServiceProxy", L::string, "External"},  // the monitor
        {"DCPAVServiceProxy", L::number, "1"},
        {"DCPAVServiceProxy", L::none, ""},
    };
    // Get VCP Feature reply for luminance: max 100, current 50.
    machine.i2cReply = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00, 0x00};
    hotKeys.clear();
    handlers.clear();
    power.reset();
    ioObjects.clear();
    liveCFAtReset = liveCF;
}

System& system()
{
    return machine;
}

int liveObjects()
{
    return liveCF - liveCFAtReset + static_cast<int>(ioObjects.size());
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
    for (const auto& [ref, key] : hotKeys) {
        if (key.keyCode != keyCode || key.mods != mods)
            continue;
        for (const auto& [id, handler] : handlers) {
            const bool listens = std::any_of(handler.types.begin(), handler.types.end(), [](const EventTypeSpec& type) {
                return type.eventClass == kEventClassKeyboard && type.eventKind == kEventHotKeyPressed;
            });
            if (handler.target == key.target && listens) {
                handler.proc(nullptr, nullptr, handler.userData);
                ++reached;
            }
        }
    }
    return reached;
}

int powerMessage(std::uint32_t messageType, intptr_t notificationID)
{
    if (!power || !power->onMainRunLoop)
        return 0;
    power->callback(power->refcon, 0, messageType, reinterpret_cast<void*>(notificationID));
    return 1;
}

std::vector<std::pair<UInt32, UInt32>> registeredHotKeys()
{
    std::vector<std::pair<UInt32, UInt32>> keys;
    for (const auto& [ref, key] : hotKeys)
        keys.emplace_back(key.keyCode, key.mods);
    return keys;
}

}  // namespace FakeMac

extern "C" {

// CoreFoundation.

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFRunLoopMode kCFRunLoopCommonModes = CFSTR("kCFRunLoopCommonModes");

CFStringRef __CFStringMakeConstantString(const char* cStr)
{
    static std::map<std::string, Object> constants;
    Object& constant = constants[cStr];
    constant.type = stringType;
    constant.constant = true;
    constant.text = cStr;
    return reinterpret_cast<CFStringRef>(&constant);
}

void CFRelease(CFTypeRef cf)
{
    auto* o = const_cast<Object*>(object(cf));
    if (o->constant || --o->references > 0)
        return;
    for (const auto& [key, value] : o->values)
        CFRelease(value);
    --liveCF;
    delete o;
}

CFTypeID CFGetTypeID(CFTypeRef cf)
{
    return object(cf)->type;
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2)
{
    return object(cf1)->type == object(cf2)->type && object(cf1)->text == object(cf2)->text;
}

CFTypeID CFStringGetTypeID(void)
{
    return stringType;
}

CFIndex CFStringGetLength(CFStringRef theString)
{
    return static_cast<CFIndex>(object(theString)->text.size());
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding)
{
    return length * 3;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize, CFStringEncoding)
{
    const std::string& text = object(theString)->text;
    if (static_cast<CFIndex>(text.size()) + 1 > bufferSize)
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer, CFIndex bufLen, Boolean)
{
    return reinterpret_cast<CFURLRef>(newObject(urlType, std::string(reinterpret_cast<const char*>(buffer), bufLen)));
}

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL)
{
    struct stat info {};
    const std::string& path = object(bundleURL)->text;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return nullptr;
    return reinterpret_cast<CFBundleRef>(newObject(bundleType, path));
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key)
{
    auto* b = const_cast<Object*>(object(bundle));
    const std::string& name = object(key)->text;
    if (!b->values.count(name)) {
        const auto value = plistString(readFile(b->text + "/Contents/Info.plist"), name);
        if (!value)
            return nullptr;
        b->values[name] = newObject(stringType, *value);
    }
    return b->values[name];
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle)
{
    return static_cast<CFStringRef>(CFBundleGetValueForInfoDictionaryKey(bundle, CFSTR("CFBundleIdentifier")));
}

CFRunLoopRef CFRunLoopGetMain(void)
{
    return reinterpret_cast<CFRunLoopRef>(&mainRunLoop);
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode)
{
    if (power && rl == CFRunLoopGetMain() && source == reinterpret_cast<CFRunLoopSourceRef>(&runLoopSource)
        && mode == kCFRunLoopCommonModes)
        power->onMainRunLoop = true;
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode)
{
    if (power && rl == CFRunLoopGetMain() && source == reinterpret_cast<CFRunLoopSourceRef>(&runLoopSource))
        power->onMainRunLoop = false;
}

// Quartz Display Services.

CGError CGGetActiveDisplayList(std::uint32_t maxDisplays, CGDirectDisplayID* activeDisplays, std::uint32_t* displayCount)
{
    if (!activeDisplays) {
        *displayCount = static_cast<std::uint32_t>(machine.displays.size());
        return kCGErrorSuccess;
    }
    std::uint32_t count = 0;
    for (; count < maxDisplays && count < machine.displays.size(); ++count)
        activeDisplays[count] = machine.displays[count].id;
    *displayCount = count;
    return kCGErrorSuccess;
}

CGError CGSetDisplayTransferByTable(CGDirectDisplayID display, std::uint32_t tableSize,
    const CGGammaValue* redTable, const CGGammaValue* greenTable, const CGGammaValue* blueTable)
{
    const auto it = std::find_if(machine.displays.begin(), machine.displays.end(), [display](const auto& d) { return d.id == display; });
    if (it == machine.displays.end())
        return kCGErrorIllegalArgument;
    machine.tableWrites.push_back({display, tableSize, {redTable, redTable + tableSize},
        {greenTable, greenTable + tableSize}, {blueTable, blueTable + tableSize}});
    return it->gammaError;
}

void CGDisplayRestoreColorSyncSettings(void)
{
    ++machine.restores;
}

CGError CGDisplayRegisterReconfigurationCallback(CGDisplayReconfigurationCallBack callback, void* userInfo)
{
    machine.reconfigurationCallbacks.emplace_back(callback, userInfo);
    return kCGErrorSuccess;
}

CGError CGDisplayRemoveReconfigurationCallback(CGDisplayReconfigurationCallBack callback, void* userInfo)
{
    auto& callbacks = machine.reconfigurationCallbacks;
    const auto it = std::find(callbacks.begin(), callbacks.end(), std::make_pair(callback, userInfo));
    if (it == callbacks.end())
        return kCGErrorIllegalArgument;
    callbacks.erase(it);
    return kCGErrorSuccess;
}

boolean_t CGDisplayIsBuiltin(CGDirectDisplayID display)
{
    for (const auto& d : machine.displays)
        if (d.id == display)
            return d.builtin;
    return 0;
}

std::size_t CGDisplayPixelsWide(CGDirectDisplayID display)
{
    for (const auto& d : machine.displays)
        if (d.id == display)
            return d.wide;
    return 0;
}

std::size_t CGDisplayPixelsHigh(CGDirectDisplayID display)
{
    for (const auto& d : machine.displays)
        if (d.id == display)
            return d.high;
    return 0;
}

// IOKit registry.

const mach_port_t kIOMainPortDefault = MACH_PORT_NULL;

io_registry_entry_t IORegistryGetRootEntry(mach_port_t)
{
    return newIO({IOObject::Kind::root});
}

kern_return_t IORegistryEntryCreateIterator(io_registry_entry_t entry, const io_name_t plane, IOOptionBits options, io_iterator_t* iterator)
{
    const auto it = ioObjects.find(entry);
    if (it == ioObjects.end() || it->second.kind != IOObject::Kind::root || std::strcmp(plane, kIOServicePlane) != 0)
        return 1;
    IOObject walk {IOObject::Kind::iterator};
    // The display services sit deep in the tree: without recursion none is reached.
    walk.next = (options & kIORegistryIterateRecursively) ? 0 : machine.registry.size();
    *iterator = newIO(walk);
    return KERN_SUCCESS;
}

io_object_t IOIteratorNext(io_iterator_t iterator)
{
    IOObject& walk = ioObjects.at(iterator);
    if (walk.next >= machine.registry.size())
        return IO_OBJECT_NULL;
    IOObject entry {IOObject::Kind::entry};
    entry.entry = static_cast<int>(walk.next++);
    return newIO(entry);
}

kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name)
{
    const std::string& text = machine.registry.at(ioObjects.at(entry).entry).name;
    std::strncpy(name, text.c_str(), sizeof(io_name_t) - 1);
    return KERN_SUCCESS;
}

CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const io_name_t, CFStringRef key, CFAllocatorRef, IOOptionBits)
{
    const FakeMac::RegistryEntry& e = machine.registry.at(ioObjects.at(entry).entry);
    using L = FakeMac::RegistryEntry::Location;
    if (object(key)->text != "Location" || e.locationKind == L::none)
        return nullptr;
    return newObject(e.locationKind == L::string ? stringType : numberType, e.location);
}

kern_return_t IOObjectRelease(io_object_t object)
{
    if (object == powerNotifier)
        return KERN_SUCCESS;
    return ioObjects.erase(object) == 1 ? KERN_SUCCESS : 1;
}

// Private IOAVService functions, found by dlsym among the loaded images.

CFTypeRef IOAVServiceCreateWithService(CFAllocatorRef, io_service_t service)
{
    Object* av = newObject(avServiceType);
    av->entry = ioObjects.at(service).entry;
    return av;
}

IOReturn IOAVServiceWriteI2C(CFTypeRef service, std::uint32_t chipAddress, std::uint32_t dataAddress, void* inputBuffer, std::uint32_t inputBufferSize)
{
    const auto* bytes = static_cast<const std::uint8_t*>(inputBuffer);
    machine.transfers.push_back({true, object(service)->entry, chipAddress, dataAddress, {bytes, bytes + inputBufferSize}});
    return kIOReturnSuccess;
}

IOReturn IOAVServiceReadI2C(CFTypeRef service, std::uint32_t chipAddress, std::uint32_t offset, void* outputBuffer, std::uint32_t outputBufferSize)
{
    machine.transfers.push_back({false, object(service)->entry, chipAddress, offset, {}});
    if (machine.i2cReply.empty())
        return 1;
    std::memcpy(outputBuffer, machine.i2cReply.data(), std::min<std::size_t>(outputBufferSize, machine.i2cReply.size()));
    return kIOReturnSuccess;
}

// System power.

io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* thePortRef, IOServiceInterestCallback callback, io_object_t* notifier)
{
    power = PowerRegistration {refcon, callback, false};
    *thePortRef = reinterpret_cast<IONotificationPortRef>(&notifyPort);
    *notifier = powerNotifier;
    return rootPowerPort;
}

IOReturn IODeregisterForSystemPower(io_object_t* notifier)
{
    machine.powerDeregistered = power && *notifier == powerNotifier;
    return kIOReturnSuccess;
}

IOReturn IOAllowPowerChange(io_connect_t kernelPort, intptr_t notificationID)
{
    if (kernelPort == rootPowerPort)
        machine.allowedPowerChanges.push_back(notificationID);
    return kIOReturnSuccess;
}

kern_return_t IOServiceClose(io_connect_t)
{
    return KERN_SUCCESS;
}

CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef notify)
{
    return notify == reinterpret_cast<IONotificationPortRef>(&notifyPort) ? reinterpret_cast<CFRunLoopSourceRef>(&runLoopSource) : nullptr;
}

void IONotificationPortDestroy(IONotificationPortRef)
{
    power.reset();
}

// Carbon hot keys.

EventTargetRef GetApplicationEventTarget(void)
{
    return reinterpret_cast<EventTargetRef>(&applicationTarget);
}

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
    const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef)
{
    const int id = nextKey++;
    handlers[id] = {inTarget, inHandler, {inList, inList + inNumTypes}, inUserData};
    ++machine.handlersInstalled;
    if (outRef)
        *outRef = reinterpret_cast<EventHandlerRef>(static_cast<intptr_t>(id));
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef)
{
    return handlers.erase(static_cast<int>(reinterpret_cast<intptr_t>(inHandlerRef))) == 1 ? noErr : -50;
}

OSStatus RegisterEventHotKey(UInt32 inHotKeyCode, UInt32 inHotKeyModifiers, EventHotKeyID inHotKeyID,
    EventTargetRef inTarget, OptionBits, EventHotKeyRef* outRef)
{
    if (machine.takenHotKeys.count({inHotKeyCode, inHotKeyModifiers}))
        return eventHotKeyExistsErr;
    const int id = nextKey++;
    hotKeys[id] = {inHotKeyCode, inHotKeyModifiers, inHotKeyID, inTarget};
    *outRef = reinterpret_cast<EventHotKeyRef>(static_cast<intptr_t>(id));
    return noErr;
}

OSStatus UnregisterEventHotKey(EventHotKeyRef inHotKey)
{
    return hotKeys.erase(static_cast<int>(reinterpret_cast<intptr_t>(inHotKey))) == 1 ? OSStatus(noErr) : OSStatus(eventHotKeyInvalidErr);
}

// libproc.

int proc_listpids(std::uint32_t type, std::uint32_t typeinfo, void* buffer, int buffersize)
{
    std::vector<int> pids;
    for (const auto& p : machine.processes)
        if (type == PROC_ALL_PIDS || (type == PROC_RUID_ONLY && p.ruid == typeinfo))
            pids.push_back(p.pid);
    if (!buffer)
        return static_cast<int>(pids.size() * sizeof(int));
    const std::size_t count = std::min(pids.size(), static_cast<std::size_t>(buffersize) / sizeof(int));
    std::memcpy(buffer, pids.data(), count * sizeof(int));
    return static_cast<int>(count * sizeof(int));
}

int proc_pidpath(int pid, void* buffer, std::uint32_t buffersize)
{
    for (const auto& p : machine.processes) {
        if (p.pid != pid || p.path.empty() || p.path.size() + 1 > buffersize)
            continue;
        std::memcpy(buffer, p.path.c_str(), p.path.size() + 1);
        return static_cast<int>(p.path.size());
    }
    return 0;
}

}  // extern "C"
