#include "platform/x11/X11Keyboard.h"

#include <X11/keysym.h>
#include <xcb/xcb.h>
// xkb.h names a field "explicit"; keep it away from the C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>

#include <algorithm>
#include <cctype>

#include "foundation/Log.h"
#include "keys/ModifierCombo.h"
#include "platform/x11/XcbSupport.h"

namespace velmarune {

using namespace x11;

namespace {
const Logger log{"X11Keyboard"};

xcb_connection_t* connect(const std::string& display, std::string* error) {
    xcb_connection_t* conn = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    if (xcb_connection_has_error(conn)) {
        xcb_disconnect(conn);
        if (error) {
            *error = "cannot connect to the X server";
        }
        return nullptr;
    }
    return conn;
}

xcb_window_t rootOf(xcb_connection_t* conn) {
    return xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

uint64_t flagForKeysym(uint32_t sym) {
    switch (sym) {
        case XK_Shift_L:
        case XK_Shift_R:
            return kModifierShift;
        case XK_Control_L:
        case XK_Control_R:
            return kModifierControl;
        case XK_Alt_L:
        case XK_Alt_R:
        case XK_Meta_L:
        case XK_Meta_R:
            return kModifierOption;
        case XK_Super_L:
        case XK_Super_R:
        case XK_Hyper_L:
        case XK_Hyper_R:
            return kModifierCommand;
        default:
            return 0;
    }
}

// Modifier flags from an X modifier mask. Shift and Control are fixed; which
// of Mod1..Mod5 is Alt or Super is read from the modifier map.
uint64_t flagsFromMask(xcb_connection_t* conn, uint16_t mask) {
    uint64_t flags = 0;
    if (mask & XCB_MOD_MASK_SHIFT) {
        flags |= kModifierShift;
    }
    if (mask & XCB_MOD_MASK_CONTROL) {
        flags |= kModifierControl;
    }
    if (!(mask &
          (XCB_MOD_MASK_1 | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5))) {
        return flags;
    }
    XcbPtr<xcb_get_modifier_mapping_reply_t> map(
        xcb_get_modifier_mapping_reply(conn, xcb_get_modifier_mapping(conn), nullptr));
    if (!map) {
        return flags;
    }
    const KeyboardMap keyboard(conn);
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    for (int modifier = 3; modifier < 8; ++modifier) {  // Mod1..Mod5
        if (!(mask & (1u << modifier))) {
            continue;
        }
        for (int k = 0; k < perModifier; ++k) {
            const uint64_t flag =
                flagForKeysym(keyboard.keysymOf(codes[modifier * perModifier + k]));
            if (flag == kModifierOption || flag == kModifierCommand) {
                flags |= flag;
            }
        }
    }
    return flags;
}
}  // namespace

X11PasteKeystroke::X11PasteKeystroke(std::function<std::vector<std::string>()> terminalClasses)
    : m_terminalClasses(std::move(terminalClasses)) {}

X11PasteKeystroke::~X11PasteKeystroke() {
    if (m_conn) {
        xcb_disconnect(m_conn);
    }
}

bool X11PasteKeystroke::start(const std::string& display, std::string* error) {
    std::lock_guard lock(m_mutex);
    m_conn = connect(display, error);
    if (!m_conn) {
        return false;
    }
    const auto* xtest = xcb_get_extension_data(m_conn, &xcb_test_id);
    if (!xtest || !xtest->present) {
        if (error) {
            *error = "the X server lacks XTEST";
        }
        xcb_disconnect(m_conn);
        m_conn = nullptr;
        return false;
    }
    XcbPtr<xcb_xkb_use_extension_reply_t> xkb(
        xcb_xkb_use_extension_reply(m_conn, xcb_xkb_use_extension(m_conn, 1, 0), nullptr));
    m_xkb = xkb && xkb->supported;
    return true;
}

std::optional<uint8_t> X11PasteKeystroke::latinGroupToLock(xcb_keycode_t v) {
    if (!m_xkb) {
        return std::nullopt;
    }
    XcbPtr<xcb_xkb_get_state_reply_t> state(xcb_xkb_get_state_reply(
        m_conn, xcb_xkb_get_state(m_conn, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    if (!state) {
        return std::nullopt;
    }
    const KeyboardMap keyboard(m_conn);
    auto isV = [](uint32_t sym) { return sym == XK_v || sym == XK_V; };
    if (state->group < 2 && isV(keyboard.keysymOf(v, state->group))) {
        return std::nullopt;  // the target sees a V already
    }
    // The core map shows the first two groups reliably.
    for (uint8_t group = 0; group < 2; ++group) {
        if (isV(keyboard.keysymOf(v, group))) {
            return group;
        }
    }
    return std::nullopt;
}

bool X11PasteKeystroke::focusedIsTerminal() {
    const xcb_window_t window = activeWindow(m_conn, rootOf(m_conn));
    if (window == XCB_WINDOW_NONE) {
        return false;
    }
    auto wmClass = getProperty(m_conn, window, XCB_ATOM_WM_CLASS, 1024);
    if (!wmClass) {
        return false;
    }
    // "instance\0class\0"
    const std::string& raw = wmClass->bytes;
    const auto split = raw.find('\0');
    const std::string instance = lower(raw.substr(0, split));
    std::string cls = split == std::string::npos ? "" : raw.substr(split + 1);
    cls = lower(cls.substr(0, cls.find('\0')));
    if (!m_terminalClasses) {
        return false;
    }
    const auto classes = m_terminalClasses();
    return std::any_of(classes.begin(), classes.end(), [&](const std::string& c) {
        const auto wanted = lower(c);
        return wanted == cls || wanted == instance;
    });
}

bool X11PasteKeystroke::post() {
    std::lock_guard lock(m_mutex);
    if (!m_conn || xcb_connection_has_error(m_conn)) {
        return false;
    }
    const KeyboardMap keyboard(m_conn);
    const xcb_keycode_t control = keyboard.keycodeFor(XK_Control_L);
    const xcb_keycode_t shift = keyboard.keycodeFor(XK_Shift_L);
    xcb_keycode_t v = keyboard.keycodeFor(XK_v);
    if (!v) {
        v = keyboard.keycodeFor(XK_V);
    }
    if (!control || !shift || !v) {
        log.error("no key code for the paste keystroke");
        return false;
    }
    const bool terminal = focusedIsTerminal();
    // With a Hebrew (or other non-Latin) group active the V key is no V, and
    // many applications then ignore Control+V: lock a Latin group for the
    // keystroke and give the user's group back afterwards.
    std::optional<uint8_t> userGroup;
    if (auto latin = latinGroupToLock(v)) {
        XcbPtr<xcb_xkb_get_state_reply_t> state(xcb_xkb_get_state_reply(
            m_conn, xcb_xkb_get_state(m_conn, XCB_XKB_ID_USE_CORE_KBD), nullptr));
        if (state) {
            userGroup = state->lockedGroup;
            xcb_xkb_latch_lock_state(m_conn, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, *latin, 0, 0, 0);
        }
    }
    auto key = [&](uint8_t type, xcb_keycode_t code) {
        xcb_test_fake_input(m_conn, type, code, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    };
    key(XCB_KEY_PRESS, control);
    if (terminal) {
        key(XCB_KEY_PRESS, shift);
    }
    key(XCB_KEY_PRESS, v);
    key(XCB_KEY_RELEASE, v);
    if (terminal) {
        key(XCB_KEY_RELEASE, shift);
    }
    key(XCB_KEY_RELEASE, control);
    // A round trip: the keys are with the server when this returns.
    XcbPtr<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
    if (userGroup) {
        xcb_xkb_latch_lock_state(m_conn, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, *userGroup, 0, 0, 0);
        XcbPtr<xcb_get_input_focus_reply_t> restored(
            xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
    }
    return sync != nullptr;
}

X11ModifierState::~X11ModifierState() {
    if (m_conn) {
        xcb_disconnect(m_conn);
    }
}

bool X11ModifierState::start(const std::string& display, std::string* error) {
    std::lock_guard lock(m_mutex);
    m_conn = connect(display, error);
    if (!m_conn) {
        return false;
    }
    XcbPtr<xcb_xkb_use_extension_reply_t> xkb(
        xcb_xkb_use_extension_reply(m_conn, xcb_xkb_use_extension(m_conn, 1, 0), nullptr));
    if (!xkb || !xkb->supported) {
        if (error) {
            *error = "the X server lacks XKEYBOARD";
        }
        xcb_disconnect(m_conn);
        m_conn = nullptr;
        return false;
    }
    return true;
}

uint64_t X11ModifierState::combinedFlags() {
    std::lock_guard lock(m_mutex);
    if (!m_conn) {
        return 0;
    }
    XcbPtr<xcb_xkb_get_state_reply_t> state(xcb_xkb_get_state_reply(
        m_conn, xcb_xkb_get_state(m_conn, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    if (!state) {
        return 0;
    }
    // Locked modifiers (Caps Lock) are not keys held down.
    return flagsFromMask(m_conn, static_cast<uint16_t>(state->baseMods | state->latchedMods));
}

uint64_t X11ModifierState::hardwareFlags() {
    std::lock_guard lock(m_mutex);
    if (!m_conn) {
        return 0;
    }
    XcbPtr<xcb_query_keymap_reply_t> keymap(
        xcb_query_keymap_reply(m_conn, xcb_query_keymap(m_conn), nullptr));
    if (!keymap) {
        return 0;
    }
    const KeyboardMap keyboard(m_conn);
    uint64_t flags = 0;
    for (int code = 8; code < 256; ++code) {
        if (keymap->keys[code / 8] & (1 << (code % 8))) {
            flags |= flagForKeysym(keyboard.keysymOf(static_cast<xcb_keycode_t>(code)));
        }
    }
    return flags;
}

}  // namespace velmarune
