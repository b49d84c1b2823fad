#pragma once
// The keys a shortcut can use, in one table: the stored key code (the Mac keyboard numbering,
// 0 A, 6 Z, 49 space...), the X keysym of the key's unshifted level, and the names shown.
// Keysyms are plain numbers: they are fixed protocol values, and no window-system header
// belongs up here.

#include <cstdint>
#include <optional>

// The stored modifier mask.
namespace HotKeyMask {
inline constexpr std::uint32_t command = 0x100;
inline constexpr std::uint32_t shift = 0x200;
inline constexpr std::uint32_t option = 0x800;
inline constexpr std::uint32_t control = 0x1000;
}  // namespace HotKeyMask

namespace KeyCodes {

struct Key {
    std::uint32_t code;
    std::uint32_t keysym;
    const char* symbol;  // the short Mac-style name; null where none is shown ("·")
    const char* name;    // the name Linux desktops show
};

// Absent for keys outside the table.
std::optional<Key> byCode(std::uint32_t code);
// Letters are found by either case.
std::optional<Key> byKeysym(std::uint32_t keysym);

}  // namespace KeyCodes
