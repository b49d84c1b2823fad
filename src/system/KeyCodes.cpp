#include "system/KeyCodes.h"

namespace {

// The symbol column holds the fifty names the shortcut has always been shown with.
constexpr KeyCodes::Key kKeys[] = {
    {0, 0x61, "A", "A"}, {11, 0x62, "B", "B"}, {8, 0x63, "C", "C"}, {2, 0x64, "D", "D"},
    {14, 0x65, "E", "E"}, {3, 0x66, "F", "F"}, {5, 0x67, "G", "G"}, {4, 0x68, "H", "H"},
    {34, 0x69, "I", "I"}, {38, 0x6a, "J", "J"}, {40, 0x6b, "K", "K"}, {37, 0x6c, "L", "L"},
    {46, 0x6d, "M", "M"}, {45, 0x6e, "N", "N"}, {31, 0x6f, "O", "O"}, {35, 0x70, "P", "P"},
    {12, 0x71, "Q", "Q"}, {15, 0x72, "R", "R"}, {1, 0x73, "S", "S"}, {17, 0x74, "T", "T"},
    {32, 0x75, "U", "U"}, {9, 0x76, "V", "V"}, {13, 0x77, "W", "W"}, {7, 0x78, "X", "X"},
    {16, 0x79, "Y", "Y"}, {6, 0x7a, "Z", "Z"},
    {29, 0x30, "0", "0"}, {18, 0x31, "1", "1"}, {19, 0x32, "2", "2"}, {20, 0x33, "3", "3"},
    {21, 0x34, "4", "4"}, {23, 0x35, "5", "5"}, {22, 0x36, "6", "6"}, {26, 0x37, "7", "7"},
    {28, 0x38, "8", "8"}, {25, 0x39, "9", "9"},
    {49, 0x20, "\u2423", "Space"}, {36, 0xff0d, "\u21A9", "Return"},
    {122, 0xffbe, "F1", "F1"}, {120, 0xffbf, "F2", "F2"}, {99, 0xffc0, "F3", "F3"}, {118, 0xffc1, "F4", "F4"},
    {96, 0xffc2, "F5", "F5"}, {97, 0xffc3, "F6", "F6"}, {98, 0xffc4, "F7", "F7"}, {100, 0xffc5, "F8", "F8"},
    {101, 0xffc6, "F9", "F9"}, {109, 0xffc7, "F10", "F10"}, {103, 0xffc8, "F11", "F11"}, {111, 0xffc9, "F12", "F12"},
    {53, 0xff1b, nullptr, "Esc"}, {48, 0xff09, nullptr, "Tab"}, {51, 0xff08, nullptr, "Backspace"},
    {117, 0xffff, nullptr, "Delete"}, {123, 0xff51, nullptr, "Left"}, {124, 0xff53, nullptr, "Right"},
    {125, 0xff54, nullptr, "Down"}, {126, 0xff52, nullptr, "Up"}, {115, 0xff50, nullptr, "Home"},
    {119, 0xff57, nullptr, "End"}, {116, 0xff55, nullptr, "Page Up"}, {121, 0xff56, nullptr, "Page Down"},
    {27, 0x2d, nullptr, "-"}, {24, 0x3d, nullptr, "="}, {33, 0x5b, nullptr, "["}, {30, 0x5d, nullptr, "]"},
    {41, 0x3b, nullptr, ";"}, {39, 0x27, nullptr, "'"}, {42, 0x5c, nullptr, "\\"}, {43, 0x2c, nullptr, ","},
    {47, 0x2e, nullptr, "."}, {44, 0x2f, nullptr, "/"}, {50, 0x60, nullptr, "`"},
};

}  // namespace

std::optional<KeyCodes::Key> KeyCodes::byCode(std::uint32_t code)
{
    for (const Key& key : kKeys) {
        if (key.code == code)
            return key;
    }
    return std::nullopt;
}

std::optional<KeyCodes::Key> KeyCodes::byKeysym(std::uint32_t keysym)
{
    // Upper-case Latin letters are the shifted level of their key.
    if (keysym >= 0x41 && keysym <= 0x5a)
        keysym += 0x20;
    for (const Key& key : kKeys) {
        if (key.keysym == keysym)
            return key;
    }
    return std::nullopt;
}
