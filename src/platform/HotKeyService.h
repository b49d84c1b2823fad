#pragma once
// A system-wide shortcut facility. Shortcuts are given in the stored form: a virtual key
// code of the Mac keyboard numbering (0 A, 6 Z, 49 space...) and a hot-key modifier mask
// (command 0x100, shift 0x200, option 0x800, control 0x1000).

#include <cstdint>
#include <functional>
#include <optional>

class HotKeyService {
public:
    using Handler = std::function<void()>;
    using Ref = std::uint32_t;

    virtual ~HotKeyService() = default;

    // Called for every press of a registered shortcut, on the main thread.
    virtual void installHandler(Handler onPressed) = 0;
    // Absent when the combination cannot be registered (unknown key, taken by another program).
    virtual std::optional<Ref> registerHotKey(std::uint32_t keyCode, std::uint32_t mods) = 0;
    virtual void unregisterHotKey(Ref ref) = 0;
    // The key code of a hardware key (the window system's own number for it, with the
    // modifier state that picks its layout group), read at the key's unshifted level so the
    // user's layout decides; absent for keys no shortcut can use.
    virtual std::optional<std::uint32_t> keyCodeOf(std::uint32_t nativeKey, std::uint32_t nativeState)
    {
        (void)nativeKey;
        (void)nativeState;
        return std::nullopt;
    }
};
