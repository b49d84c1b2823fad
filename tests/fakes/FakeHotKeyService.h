#pragma once
// A hot-key facility in memory: records registrations; press() plays a key press.

#include "platform/HotKeyService.h"

#include <map>
#include <set>
#include <utility>

class FakeHotKeyService : public HotKeyService {
public:
    int installs = 0;
    std::map<Ref, std::pair<std::uint32_t, std::uint32_t>> registered;  // ref -> (key, mods)
    bool refuse = false;                                      // refuses every combination
    std::set<std::pair<std::uint32_t, std::uint32_t>> taken;  // (key, mods) another program holds

    void installHandler(Handler onPressed) override
    {
        ++installs;
        handler_ = std::move(onPressed);
    }
    std::optional<Ref> registerHotKey(std::uint32_t keyCode, std::uint32_t mods) override
    {
        if (refuse || taken.count({keyCode, mods}))
            return std::nullopt;
        const Ref ref = next_++;
        registered[ref] = {keyCode, mods};
        return ref;
    }
    void unregisterHotKey(Ref ref) override { registered.erase(ref); }
    std::optional<std::uint32_t> keyCodeOf(std::uint32_t nativeKey, std::uint32_t) override { return nativeKey + 1000; }
    void press() { if (handler_) handler_(); }

private:
    Handler handler_;
    Ref next_ = 1;
};
