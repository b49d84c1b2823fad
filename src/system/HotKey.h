#pragma once
// The one global shortcut (Ctrl+Alt+Super+Z by default) that toggles the filter.

#include "platform/HotKeyService.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace HotKeyMask {
inline constexpr std::uint32_t command = 0x100;
inline constexpr std::uint32_t shift = 0x200;
inline constexpr std::uint32_t option = 0x800;
inline constexpr std::uint32_t control = 0x1000;
}  // namespace HotKeyMask

// Modifier flags of a key event in the window system's bit layout.
namespace ModifierFlag {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
}  // namespace ModifierFlag

class HotKey {
public:
    static constexpr const char* didChange = "VeskHotKeyChanged";
    static constexpr std::uint32_t defaultKeyCode = 6;     // Z
    static constexpr std::uint32_t defaultMods = 0x1900;  // control + option + command

    static HotKey& shared();

    void setService(HotKeyService* service) { service_ = service; }
    // Whether the session offers any global-shortcut facility at all.
    bool canGrab() const { return service_ != nullptr; }

    // What a press does; runs on the main thread, never inside the system's event dispatch.
    std::function<void()> onTrigger;

    // Installs the handler once and (re-)registers the stored shortcut.
    void registerHotKey();
    // Stores a new shortcut, registers it and announces it.
    void rebind(std::uint32_t keyCode, std::uint32_t mods);

    std::uint32_t keyCode() const;
    std::uint32_t mods() const;
    QString label() const;
    bool isRegistered() const { return ref_.has_value(); }

    static QString describe(std::uint32_t keyCode, std::uint32_t mods);
    static std::uint32_t carbonMods(std::uint64_t flags);
    // The shown name of a key code, absent for keys outside the table.
    static std::optional<QString> keyName(std::uint32_t keyCode);

    HotKey() = default;

private:
    std::uint32_t storedOrDefault(const char* key, std::uint32_t fallback) const;

    HotKeyService* service_ = nullptr;
    std::optional<HotKeyService::Ref> ref_;
    bool installed_ = false;
};
