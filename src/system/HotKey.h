#pragma once
// The one global shortcut (Ctrl+Alt+Super+Z by default) that toggles the filter.

#include "platform/HotKeyService.h"
#include "system/KeyCodes.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

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
    // Registers a new shortcut, then stores and announces it. False when the system refuses
    // it (another program holds it): the previous shortcut stays registered and stored.
    bool rebind(std::uint32_t keyCode, std::uint32_t mods);

    std::uint32_t keyCode() const;
    std::uint32_t mods() const;
    QString label() const;
    bool isRegistered() const { return ref_.has_value(); }
    // The combination the system last refused, until one is registered again.
    std::optional<std::pair<std::uint32_t, std::uint32_t>> refused() const { return refused_; }

    // The key code of a hardware key as the service numbers it, absent without a service
    // or for keys no shortcut can use.
    std::optional<std::uint32_t> keyCodeForNativeKey(std::uint32_t nativeKey, std::uint32_t nativeState) const;

    // The text shown to the user: the symbol form on macOS, "Ctrl+Alt+Super+Z" elsewhere.
    static QString describe(std::uint32_t keyCode, std::uint32_t mods);
    // "⌃⌥⌘Z": the symbol form, also the form of the log line.
    static QString symbolText(std::uint32_t keyCode, std::uint32_t mods);
    // "Ctrl+Alt+Super+Z".
    static QString plainText(std::uint32_t keyCode, std::uint32_t mods);
    static std::uint32_t carbonMods(std::uint64_t flags);

    HotKey() = default;

private:
    std::uint32_t storedOrDefault(const char* key, std::uint32_t fallback) const;
    void installHandler();
    bool registerCombination(std::uint32_t keyCode, std::uint32_t mods);

    HotKeyService* service_ = nullptr;
    std::optional<HotKeyService::Ref> ref_;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> refused_;
    bool installed_ = false;
};
