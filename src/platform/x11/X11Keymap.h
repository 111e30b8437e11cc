#pragma once

#include <array>
#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace velmarune {

// The server's keyboard mapping and modifier map, read over one xcb
// connection: X key codes to keysyms and modifier masks. Reload it after a
// MappingNotify. Not thread-safe: the thread of the connection's loop reads
// and reloads it, and backends on that loop share one copy.
class X11Keymap {
  public:
    // False when the server did not answer.
    bool load(xcb_connection_t* connection);

    // The first key code that produces `keysym` (any shift level), or 0.
    uint8_t keycodeFor(uint32_t keysym) const;
    // The stored-layout modifier bit a key stands for (Shift, Control,
    // Option = Alt/Meta, Command = Super), 0 for every other key, the lock
    // keys included.
    uint64_t modifierBit(uint8_t keycode) const { return m_modifierBits[keycode]; }
    // Any modifier or lock key (Caps Lock, Num Lock, AltGr and the four
    // above): such keys change modifier state and are never key-downs.
    bool isModifierKey(uint8_t keycode) const { return m_modifierKeys[keycode]; }
    // The core modifier mask (ShiftMask … Mod5Mask) holding a key with `keysym`, or 0.
    uint16_t maskFor(uint32_t keysym) const;
    // The stored-layout flags of a core modifier mask: Shift and Control as
    // they are, Option and Command for whichever of Mod1..Mod5 hold Alt or Super.
    uint64_t flagsForMask(uint16_t mask) const;
    // The unshifted keysym of `keycode` in keyboard group `group` (0 or 1,
    // as the core map shows them), 0 when none.
    uint32_t keysymOf(uint8_t keycode, uint8_t group = 0) const;

  private:
    bool produces(uint8_t keycode, uint32_t keysym) const;

    uint8_t m_minKeycode = 8;
    uint8_t m_maxKeycode = 255;
    uint8_t m_keysymsPerKeycode = 0;
    std::vector<uint32_t> m_keysyms;
    // Key codes per core modifier (8 modifiers × m_keycodesPerModifier).
    std::vector<uint8_t> m_modifierKeycodes;
    uint8_t m_keycodesPerModifier = 0;
    std::array<uint64_t, 256> m_modifierBits{};
    std::array<bool, 256> m_modifierKeys{};
};

}  // namespace velmarune
