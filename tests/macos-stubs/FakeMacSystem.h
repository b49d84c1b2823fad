#pragma once
// The scripted Mac behind the stand-in headers: what the tests set up, what the backends
// called, and the system events a test can fire.

#include <Carbon/Carbon.h>
#include <CoreGraphics/CoreGraphics.h>
#include <IOKit/IOKitLib.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace FakeMac {

struct Display {
    CGDirectDisplayID id = 0;
    bool builtin = false;
    std::size_t wide = 0;
    std::size_t high = 0;
    CGError gammaError = kCGErrorSuccess;  // what CGSetDisplayTransferByTable answers
};

struct TableWrite {
    CGDirectDisplayID display = 0;
    std::uint32_t size = 0;
    std::vector<float> red, green, blue;
};

// An entry of the I/O registry's service plane, below the root.
struct RegistryEntry {
    std::string name;
    enum class Location { none, string, number } locationKind = Location::none;
    std::string location;
};

struct I2CTransfer {
    bool write = false;
    int entry = 0;  // index in `registry` of the service's entry
    std::uint32_t chip = 0;
    std::uint32_t dataAddress = 0;
    std::vector<std::uint8_t> bytes;
};

struct Process {
    int pid = 0;
    std::uint32_t ruid = 0;
    std::string path;  // empty: proc_pidpath fails (another user's, or gone)
};

struct System {
    // Quartz Display Services.
    std::vector<Display> displays;
    std::vector<TableWrite> tableWrites;
    int restores = 0;
    std::vector<std::pair<CGDisplayReconfigurationCallBack, void*>> reconfigurationCallbacks;

    // The private DisplayServices framework (served by the stand-in libraries).
    std::map<CGDirectDisplayID, float> backlight;
    std::map<CGDirectDisplayID, bool> ambientLight;

    // The I/O registry and IOAVService.
    std::vector<RegistryEntry> registry;
    std::vector<std::uint8_t> i2cReply;
    std::vector<I2CTransfer> transfers;

    // Carbon hot keys.
    std::set<std::pair<UInt32, UInt32>> takenHotKeys;  // held by another program
    int handlersInstalled = 0;

    // System power.
    std::vector<intptr_t> allowedPowerChanges;
    bool powerDeregistered = false;

    // libproc.
    std::vector<Process> processes;
};

// A Mac with a built-in panel (1) at backlight 0.4 and an external monitor (2) that answers
// DDC, both in the registry beside entries that must be passed over.
void reset();
System& system();

// CoreFoundation and IOKit objects created since reset() and not yet released.
int liveObjects();

// System events. Each returns how many callbacks it reached.
int reconfigure(CGDirectDisplayID display, CGDisplayChangeSummaryFlags flags);
int pressHotKey(UInt32 keyCode, UInt32 mods);
// Delivered only once the notification port's source is on the main run loop.
int powerMessage(std::uint32_t messageType, intptr_t notificationID);
// The hot keys registered now, as (key code, mask).
std::vector<std::pair<UInt32, UInt32>> registeredHotKeys();

}  // namespace FakeMac
