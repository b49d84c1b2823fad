#pragma once
// Display services in memory: displays are added and removed by the test, and every
// write and restore is recorded.

#include "platform/DisplayServices.h"

#include <algorithm>
#include <iterator>
#include <map>

class FakeDisplayServices : public DisplayServices {
public:
    struct Display {
        DisplayID id = 0;
        bool builtin = false;
        std::uint32_t width = 1920;
        std::uint32_t height = 1080;
        GammaResult result = GammaResult::applied;  // what a write to it gives
    };

    std::vector<Display> displays;
    std::map<DisplayID, TransferTables> tables;  // what each display shows now (absent: its own)
    int writes = 0;
    int restores = 0;
    ReconfigurationCallback callback;
    GammaResultCallback resultCallback;

    void addDisplay(DisplayID id, bool builtin = false) { displays.push_back({id, builtin}); }
    void removeDisplay(DisplayID id) { std::erase_if(displays, [id](const Display& d) { return d.id == id; }); }
    void reconfigure(DisplayID id) { if (callback) callback(id); }

    std::vector<DisplayID> activeDisplays() override
    {
        std::vector<DisplayID> ids;
        std::ranges::transform(displays, std::back_inserter(ids), &Display::id);
        return ids;
    }
    GammaResult setTransferTables(DisplayID display, const TransferTables& t) override
    {
        ++writes;
        const Display* d = find(display);
        if (!d || d->result != GammaResult::applied)
            return d ? d->result : GammaResult::unsupported;
        tables[display] = t;
        return GammaResult::applied;
    }
    void restoreColorProfiles() override
    {
        ++restores;
        tables.clear();
    }
    void registerReconfigurationCallback(ReconfigurationCallback cb) override { callback = std::move(cb); }
    void registerGammaResultCallback(GammaResultCallback cb) override { resultCallback = std::move(cb); }
    std::string name(DisplayID display) override { return "OUT-" + std::to_string(display); }
    bool isBuiltin(DisplayID display) override { return find(display) && find(display)->builtin; }
    std::uint32_t pixelsWide(DisplayID display) override { return find(display) ? find(display)->width : 0; }
    std::uint32_t pixelsHigh(DisplayID display) override { return find(display) ? find(display)->height : 0; }

    Display* find(DisplayID id)
    {
        auto it = std::find_if(displays.begin(), displays.end(), [id](const Display& d) { return d.id == id; });
        return it == displays.end() ? nullptr : &*it;
    }
};
