#pragma once
// A hot-key facility in memory: records registrations.

#include "platform/HotKeyService.h"

#include <map>
#include <set>
#include <utility>

class FakeHotKeyService : public HotKeyService {
public:
    int installs = 0;
    std::map<Ref, std::pair<std::uint32_t, std::uint32_t>> registered;  // ref -> (key, mods)
    std::set<std::pair<std::uint32_t, std::uint32_t>> taken;  // (key, mods) another program holds

    void installHandler(Handler) override { ++installs; }
    std::optional<Ref> registerHotKey(std::uint32_t keyCode, std::uint32_t mods) override
    {
        if (taken.count({keyCode, mods}))
            return std::nullopt;
        const Ref ref = next_++;
        registered[ref] = {keyCode, mods};
        return ref;
    }
    void unregisterHotKey(Ref ref) override { registered.erase(ref); }
    std::optional<std::uint32_t> keyCodeOf(std::uint32_t nativeKey, std::uint32_t) override { return nativeKey + 1000; }

private:
    Ref next_ = 1;
};
