#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmarune {

// Stored key codes are the virtual key codes of the original (ANSI) layout;
// this table names them and translates them to X keysyms for the backends.
inline constexpr uint16_t kKeyCodeV = 9;
inline constexpr uint16_t kKeyCodeC = 8;
// The Help position of the stored key-code layout, Insert on PC keyboards.
inline constexpr uint16_t kKeyCodeInsert = 114;
inline constexpr uint16_t kKeyCodeEscape = 53;

// The character or name shown for a key code; "Key <n>" for one not in the table.
std::string keyName(uint16_t keyCode);

// The X keysym a key code stands for (lower-case for letters); absent when unknown.
std::optional<uint32_t> keysymForKeyCode(uint16_t keyCode);

// The X keysym name of a key code, as compositors' key bindings spell it
// ("v", "slash", "F9"); absent when unknown.
std::optional<std::string> keysymName(uint16_t keyCode);

// The key code a key event's keysym stands for: letters in either case, and
// the symbols that Shift gives on the digit and punctuation keys of US-style
// layouts ("exclam" is the 1 key, "ISO_Left_Tab" is Tab); absent for keys
// outside the table.
std::optional<uint16_t> keyCodeForKeysym(uint32_t keysym);

// The stored-layout modifier bit of a modifier keysym (both sides of Shift,
// Control, Alt and Meta, Super), 0 for any other key.
uint64_t modifierBitForKeysym(uint32_t keysym);

// The key code for a key as desktops spell it in their shortcut settings: an X
// keysym name ("slash", "Return", "F5"), a KDE name ("Backspace", "Esc") or the
// character itself ("/", "V"). Letters are matched case-insensitively.
std::optional<uint16_t> keyCodeForKeyName(std::string_view name);

}  // namespace velmarune
