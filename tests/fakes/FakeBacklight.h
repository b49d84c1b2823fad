#pragma once
// A built-in panel's backlight in memory, per display. The panel can be told to settle at a
// level other than the one asked for.

#include "platform/Backlight.h"

#include <map>
#include <mutex>
#include <optional>

class FakeBacklight {
public:
    struct Panel {
        float level = 0.5f;
        bool alc = true;
    };

    // Whatever is set, the panel reports this instead (a panel that never reaches 1.0).
    std::optional<float> settlesAt;
    std::map<DisplayID, Panel> panels;

    Backlight functions(bool withALC = true)
    {
        Backlight b;
        b.setBrightness = [this](DisplayID d, float level) {
            std::lock_guard lock(mutex_);
            auto it = panels.find(d);
            if (it == panels.end())
                return -1;
            it->second.level = settlesAt ? *settlesAt : level;
            return 0;
        };
        b.getBrightness = [this](DisplayID d, float* level) {
            std::lock_guard lock(mutex_);
            auto it = panels.find(d);
            if (it == panels.end())
                return -1;
            *level = it->second.level;
            return 0;
        };
        if (withALC) {
            b.enableALC = [this](DisplayID d, bool on) {
                std::lock_guard lock(mutex_);
                auto it = panels.find(d);
                if (it == panels.end())
                    return -1;
                it->second.alc = on;
                return 0;
            };
            b.alcEnabled = [this](DisplayID d, bool* on) {
                std::lock_guard lock(mutex_);
                auto it = panels.find(d);
                if (it == panels.end())
                    return -1;
                *on = it->second.alc;
                return 0;
            };
        }
        return b;
    }

    float level(DisplayID d)
    {
        std::lock_guard lock(mutex_);
        return panels.at(d).level;
    }
    bool alc(DisplayID d)
    {
        std::lock_guard lock(mutex_);
        return panels.at(d).alc;
    }

private:
    std::mutex mutex_;
};
