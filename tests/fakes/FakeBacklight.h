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
        b.setBrightness = [this](DisplayID d, float level) { return on(d, [&](Panel& p) { p.level = settlesAt.value_or(level); }); };
        b.getBrightness = [this](DisplayID d, float* level) { return on(d, [&](Panel& p) { *level = p.level; }); };
        if (withALC) {
            b.enableALC = [this](DisplayID d, bool alc) { return on(d, [&](Panel& p) { p.alc = alc; }); };
            b.alcEnabled = [this](DisplayID d, bool* alc) { return on(d, [&](Panel& p) { *alc = p.alc; }); };
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
    // The framework's answer: 0, or -1 for a display without a panel.
    template <typename F> int on(DisplayID d, F f)
    {
        std::lock_guard lock(mutex_);
        auto it = panels.find(d);
        if (it == panels.end())
            return -1;
        f(it->second);
        return 0;
    }
    std::mutex mutex_;
};
