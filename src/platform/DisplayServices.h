#pragma once
// The display operations the filter needs: list, write gamma tables, restore,
// reconfiguration events, and a little about each display for the support report.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using DisplayID = std::uint32_t;

// Listed by a backend that can reach no display of the session: it stands for all of them,
// and takes no tables.
inline constexpr DisplayID sessionDisplay = 0;

// Three linear ramps of 256 entries in [0, 1]; entry i is the output for input i / 255.
struct TransferTables {
    static constexpr int size = 256;
    std::array<float, size> red{};
    std::array<float, size> green{};
    std::array<float, size> blue{};
};

// What a write of tables did on one display.
enum class GammaResult {
    applied,      // the display shows the tables
    unsupported,  // the display or the session takes no tables (no gamma, Xwayland)
    heldByOther,  // another program holds the display's colours, or keeps resetting them
};

class DisplayServices {
public:
    using ReconfigurationCallback = std::function<void(DisplayID display)>;
    using GammaResultCallback = std::function<void(DisplayID display, GammaResult result)>;
    using LogCallback = std::function<void(const std::string& line)>;

    virtual ~DisplayServices() = default;

    // Displays that are drawing now, in the system's order.
    virtual std::vector<DisplayID> activeDisplays() = 0;
    // Replaces the display's tables until the next write, restore or reconfiguration.
    virtual GammaResult setTransferTables(DisplayID display, const TransferTables& tables) = 0;
    // Every display goes back to the tables it had before this program wrote to it.
    virtual void restoreColorProfiles() = 0;
    // Called, on the main thread, for each display affected by a configuration change.
    virtual void registerReconfigurationCallback(ReconfigurationCallback callback) = 0;
    virtual bool isBuiltin(DisplayID display) = 0;
    virtual std::uint32_t pixelsWide(DisplayID display) = 0;
    virtual std::uint32_t pixelsHigh(DisplayID display) = 0;
    // The name users know the display by ("eDP-1"), for messages; empty when unknown.
    virtual std::string name(DisplayID) { return {}; }
    // Called on the main thread when a display's result changes with no write from us: another
    // program took its colours (or gave them back).
    virtual void registerGammaResultCallback(GammaResultCallback) {}
    // Called on the main thread with a line for the event log when the backend acted by itself.
    virtual void registerLogCallback(LogCallback) {}
};
