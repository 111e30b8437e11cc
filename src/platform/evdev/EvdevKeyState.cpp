#include "platform/evdev/EvdevKeyState.h"

#include <linux/input-event-codes.h>

#include "keys/ModifierCombo.h"

namespace velmarune {

namespace {
// Mouse, joystick and other buttons share EV_KEY with the keys; a click
// during the chord is not a key pressed with it.
bool isButton(uint16_t code) {
    return code >= BTN_MISC && code < KEY_OK;
}
}  // namespace

uint64_t EvdevKeyState::modifierFlag(uint16_t code) {
    switch (code) {
        case KEY_LEFTSHIFT:
        case KEY_RIGHTSHIFT:
            return kModifierShift;
        case KEY_LEFTCTRL:
        case KEY_RIGHTCTRL:
            return kModifierControl;
        case KEY_LEFTALT:
        case KEY_RIGHTALT:
            return kModifierOption;
        case KEY_LEFTMETA:
        case KEY_RIGHTMETA:
            return kModifierCommand;
        default:
            return 0;
    }
}

bool EvdevKeyState::event(int device, uint16_t type, uint16_t code, int32_t value, Reports& out) {
    Device& state = m_devices[device];
    if (type == EV_SYN) {
        if (code == SYN_DROPPED) {
            state.dropping = true;
        } else if (code == SYN_REPORT && state.dropping) {
            state.dropping = false;
            return true;
        }
        return false;
    }
    if (!m_active || state.dropping || type != EV_KEY || code >= kKeyCount || isButton(code) ||
        value == 2) {
        return false;
    }
    const bool down = value != 0;
    if (state.held.test(code) == down) {
        return false;  // a second press without a release, or a release without a press
    }
    state.held.set(code, down);
    if (modifierFlag(code) != 0) {
        updateFlags(out);
    } else if (down) {
        out.push_back({Report::Kind::keyDown, code});
    }
    return false;
}

void EvdevKeyState::resync(int device, const std::bitset<kKeyCount>& held, Reports& out) {
    Device& state = m_devices[device];
    state.dropping = false;
    state.held = m_active ? held : std::bitset<kKeyCount>();
    updateFlags(out);
}

void EvdevKeyState::removeDevice(int device, Reports& out) {
    m_devices.erase(device);
    updateFlags(out);
}

void EvdevKeyState::setSessionActive(bool active, Reports& out) {
    if (active == m_active) {
        return;
    }
    m_active = active;
    // Keys held at the lock are forgotten, so that a release typed into the
    // lock screen cannot leave the chord stuck; at the unlock the listener
    // reads back (resync) what is really down.
    for (auto& [id, state] : m_devices) {
        state.held.reset();
    }
    updateFlags(out);
}

void EvdevKeyState::updateFlags(Reports& out) {
    uint64_t flags = 0;
    for (const auto& [id, state] : m_devices) {
        for (uint16_t code : {KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTCTRL, KEY_RIGHTCTRL,
                              KEY_LEFTALT, KEY_RIGHTALT, KEY_LEFTMETA, KEY_RIGHTMETA}) {
            if (state.held.test(code)) {
                flags |= modifierFlag(code);
            }
        }
    }
    if (flags != m_flags) {
        m_flags = flags;
        out.push_back({Report::Kind::flags, flags});
    }
}

}  // namespace velmarune
