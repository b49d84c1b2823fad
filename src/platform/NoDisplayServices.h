#pragma once
// The display backend of a session whose colours no program may set (GNOME or KDE on
// Wayland, Xwayland alone): it lists the session as one display and says so on every write,
// so that the filter is never shown as working where nothing changes.

#include "platform/DisplayServices.h"

class NoDisplayServices : public DisplayServices {
public:
    std::vector<DisplayID> activeDisplays() override { return {sessionDisplay}; }
    GammaResult setTransferTables(DisplayID, const TransferTables&) override { return GammaResult::unsupported; }
    void restoreColorProfiles() override {}
    void registerReconfigurationCallback(ReconfigurationCallback) override {}
    bool isBuiltin(DisplayID) override { return false; }
    std::uint32_t pixelsWide(DisplayID) override { return 0; }
    std::uint32_t pixelsHigh(DisplayID) override { return 0; }
};
