#include "platform/x11/X11Keymap.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "keys/KeyCodes.h"
#include "keys/ModifierCombo.h"

namespace velmarune {

namespace {
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

bool isModifierKeysym(uint32_t keysym) {
    return (keysym >= 0xffe1 && keysym <= 0xffee) ||  // Shift_L … Hyper_R, Caps/Shift Lock
           keysym == 0xff7e || keysym == 0xff7f ||    // Mode_switch, Num_Lock
           (keysym >= 0xfe01 && keysym <= 0xfe0f);    // ISO_Lock … ISO_Level5 keys
}
}  // namespace

bool X11Keymap::load(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    m_minKeycode = setup->min_keycode;
    m_maxKeycode = setup->max_keycode;
    auto mappingCookie = xcb_get_keyboard_mapping(
        connection, m_minKeycode, static_cast<uint8_t>(m_maxKeycode - m_minKeycode + 1));
    auto modmapCookie = xcb_get_modifier_mapping(connection);
    Reply<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(connection, mappingCookie, nullptr));
    Reply<xcb_get_modifier_mapping_reply_t> modmap(
        xcb_get_modifier_mapping_reply(connection, modmapCookie, nullptr));
    if (!mapping || !modmap) {
        return false;
    }
    m_keysymsPerKeycode = mapping->keysyms_per_keycode;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    m_keysyms.assign(keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(mapping.get()));
    m_keycodesPerModifier = modmap->keycodes_per_modifier;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modmap.get());
    m_modifierKeycodes.assign(codes,
                              codes + xcb_get_modifier_mapping_keycodes_length(modmap.get()));

    m_modifierBits.fill(0);
    m_modifierKeys.fill(false);
    for (int code = m_minKeycode; code <= m_maxKeycode; ++code) {
        for (uint8_t level = 0; level < m_keysymsPerKeycode; ++level) {
            const size_t index =
                static_cast<size_t>(code - m_minKeycode) * m_keysymsPerKeycode + level;
            if (index >= m_keysyms.size())
                break;
            m_modifierKeys[code] = m_modifierKeys[code] || isModifierKeysym(m_keysyms[index]);
            if (!m_modifierBits[code])
                m_modifierBits[code] = modifierBitForKeysym(m_keysyms[index]);
        }
    }
    return true;
}

bool X11Keymap::produces(uint8_t keycode, uint32_t keysym) const {
    if (keycode < m_minKeycode || keycode > m_maxKeycode)
        return false;
    for (uint8_t level = 0; level < m_keysymsPerKeycode; ++level) {
        const size_t index =
            static_cast<size_t>(keycode - m_minKeycode) * m_keysymsPerKeycode + level;
        if (index < m_keysyms.size() && m_keysyms[index] == keysym)
            return true;
    }
    return false;
}

uint8_t X11Keymap::keycodeFor(uint32_t keysym) const {
    // Prefer a key whose base level gives the keysym (the letter key itself,
    // not some key that reaches it through a shift level).
    for (int code = m_minKeycode; code <= m_maxKeycode; ++code) {
        const size_t index = static_cast<size_t>(code - m_minKeycode) * m_keysymsPerKeycode;
        if (m_keysymsPerKeycode && index < m_keysyms.size() && m_keysyms[index] == keysym)
            return static_cast<uint8_t>(code);
    }
    for (int code = m_minKeycode; code <= m_maxKeycode; ++code) {
        if (produces(static_cast<uint8_t>(code), keysym))
            return static_cast<uint8_t>(code);
    }
    return 0;
}

uint16_t X11Keymap::maskFor(uint32_t keysym) const {
    for (size_t modifier = 0; modifier < 8; ++modifier) {
        for (uint8_t i = 0; i < m_keycodesPerModifier; ++i) {
            const size_t index = modifier * m_keycodesPerModifier + i;
            if (index < m_modifierKeycodes.size() && m_modifierKeycodes[index] != 0 &&
                produces(m_modifierKeycodes[index], keysym)) {
                return static_cast<uint16_t>(1u << modifier);
            }
        }
    }
    return 0;
}

uint64_t X11Keymap::flagsForMask(uint16_t mask) const {
    uint64_t flags = 0;
    if (mask & XCB_MOD_MASK_SHIFT) {
        flags |= kModifierShift;
    }
    if (mask & XCB_MOD_MASK_CONTROL) {
        flags |= kModifierControl;
    }
    for (size_t modifier = 3; modifier < 8; ++modifier) {  // Mod1..Mod5
        if (!(mask & (1u << modifier))) {
            continue;
        }
        for (uint8_t i = 0; i < m_keycodesPerModifier; ++i) {
            const size_t index = modifier * m_keycodesPerModifier + i;
            if (index < m_modifierKeycodes.size()) {
                const uint64_t bit = m_modifierBits[m_modifierKeycodes[index]];
                if (bit == kModifierOption || bit == kModifierCommand) {
                    flags |= bit;
                }
            }
        }
    }
    return flags;
}

uint32_t X11Keymap::keysymOf(uint8_t keycode, uint8_t group) const {
    if (keycode < m_minKeycode || keycode > m_maxKeycode) {
        return 0;
    }
    const size_t level = size_t{group} * 2;
    if (level >= m_keysymsPerKeycode) {
        return 0;
    }
    const size_t index = static_cast<size_t>(keycode - m_minKeycode) * m_keysymsPerKeycode + level;
    return index < m_keysyms.size() ? m_keysyms[index] : 0;
}

}  // namespace velmarune
