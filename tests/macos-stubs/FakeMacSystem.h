#pragma once
// The scripted Mac behind the stand-in SDK: what the tests set up, what the backends called,
// and the system events a test can fire.
#include "StandInSDK.h"

#include <map>
#include <string>
#include <vector>

namespace FakeMac {

struct TableWrite { CGDirectDisplayID display; std::vector<float> red, green, blue; };
// An entry of the I/O registry's service plane and its "Location" ("" none).
struct RegistryEntry { std::string name, location; };
// entry: the service's index in the registry.
struct I2CTransfer { std::size_t entry; std::uint32_t chip, dataAddress; std::vector<std::uint8_t> bytes; };
// path empty: proc_pidpath fails (another user's, or gone).
struct Process { int pid; std::uint32_t ruid; std::string path; };
using Key = std::pair<UInt32, UInt32>;  // key code, modifier mask

struct System {
    std::vector<CGDirectDisplayID> displays;  // the first is the built-in panel
    std::vector<TableWrite> tableWrites;
    int restores = 0;
    std::vector<std::pair<CGDisplayReconfigurationCallBack, void*>> reconfigurationCallbacks;
    std::map<CGDirectDisplayID, std::pair<float, bool>> backlight;  // level, ambient light compensation
    std::vector<RegistryEntry> registry;
    std::vector<std::uint8_t> i2cReply;
    std::vector<I2CTransfer> transfers;
    Key takenHotKey;  // held by another program
    std::map<EventHotKeyRef, Key> hotKeys;
    std::map<EventHandlerRef, std::pair<EventHandlerUPP, void*>> hotKeyHandlers;
    std::vector<intptr_t> allowedPowerChanges;
    std::vector<Process> processes;
    int liveObjects = 0;  // CoreFoundation and IOKit objects created and not yet released
};

// A Mac with a built-in panel (1) at backlight 0.4 and an external monitor (2) that answers
// DDC, both in the registry beside entries that must be passed over.
System& reset();
// System events; each returns how many callbacks it reached. Power messages arrive only while
// the notification port's source is on the main run loop.
int reconfigure(CGDirectDisplayID display, CGDisplayChangeSummaryFlags flags);
int pressHotKey(Key key);
int powerMessage(std::uint32_t messageType, intptr_t notificationID);

}  // namespace FakeMac
