#include "platform/wayland/WaylandKeyboard.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstring>

#include "foundation/Log.h"
#include "platform/wayland/WaylandEventLoop.h"
#include "virtual-keyboard-unstable-v1-client.h"

namespace velmarune {

namespace {
const Logger log{"WaylandKeyboard"};

// Evdev codes are the keymap's key codes minus 8.
constexpr uint32_t kReleased = WL_KEYBOARD_KEY_STATE_RELEASED;
constexpr uint32_t kPressed = WL_KEYBOARD_KEY_STATE_PRESSED;

// The keymap as text, from the xkeyboard-config rules for a US layout.
std::string usKeymapText() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) {
        return {};
    }
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    std::string text;
    if (keymap) {
        if (char* s = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1)) {
            text = s;
            std::free(s);
        }
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return text;
}

uint32_t modifierMask(const std::string& keymapText, const char* name) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    xkb_keymap* keymap = xkb_keymap_new_from_string(
        context, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    uint32_t mask = 0;
    if (keymap) {
        const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
        if (index != XKB_MOD_INVALID) {
            mask = 1u << index;
        }
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return mask;
}

// The keymap handed over as a sealed in-memory file, as the protocol asks.
int keymapFile(const std::string& text) {
    const int fd = memfd_create("velmarune-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        return -1;
    }
    const size_t size = text.size() + 1;  // with its terminating NUL
    if (write(fd, text.c_str(), size) != static_cast<ssize_t>(size)) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    return fd;
}

uint32_t millisecondsNow() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
}  // namespace

struct WaylandKeyboard::State {
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    uint32_t controlMask = 0;
    uint32_t shiftMask = 0;

    ~State() {
        if (keyboard) {
            zwp_virtual_keyboard_v1_destroy(keyboard);
        }
        if (manager) {
            zwp_virtual_keyboard_manager_v1_destroy(manager);
        }
    }

    // Loop thread. Modifier state goes with the keys: a virtual keyboard's
    // modifiers are only what its client says they are.
    void type(PasteChord chord) {
        const bool withShift = chord == PasteChord::controlShiftV;
        const uint32_t mods = controlMask | (withShift ? shiftMask : 0);
        const uint32_t t = millisecondsNow();
        zwp_virtual_keyboard_v1_key(keyboard, t, KEY_LEFTCTRL, kPressed);
        if (withShift) {
            zwp_virtual_keyboard_v1_key(keyboard, t, KEY_LEFTSHIFT, kPressed);
        }
        zwp_virtual_keyboard_v1_modifiers(keyboard, mods, 0, 0, 0);
        zwp_virtual_keyboard_v1_key(keyboard, t, KEY_V, kPressed);
        zwp_virtual_keyboard_v1_key(keyboard, t, KEY_V, kReleased);
        if (withShift) {
            zwp_virtual_keyboard_v1_key(keyboard, t, KEY_LEFTSHIFT, kReleased);
        }
        zwp_virtual_keyboard_v1_key(keyboard, t, KEY_LEFTCTRL, kReleased);
        zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
    }
};

WaylandKeyboard::WaylandKeyboard() : m_state(std::make_shared<State>()) {}

WaylandKeyboard::~WaylandKeyboard() = default;

bool WaylandKeyboard::attach(std::shared_ptr<WaylandEventLoop> loop, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    const auto global = loop->global(zwp_virtual_keyboard_manager_v1_interface.name);
    if (!global) {
        return fail("the compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)");
    }
    wl_seat* seat = loop->seat();
    if (!seat) {
        return fail("the compositor has no seat");
    }
    const std::string keymap = usKeymapText();
    const int fd = keymap.empty() ? -1 : keymapFile(keymap);
    if (fd < 0) {
        return fail("cannot build the keyboard map (xkeyboard-config missing?)");
    }
    m_loop = loop;
    State& state = *m_state;
    state.controlMask = modifierMask(keymap, XKB_MOD_NAME_CTRL);
    state.shiftMask = modifierMask(keymap, XKB_MOD_NAME_SHIFT);
    state.manager = static_cast<zwp_virtual_keyboard_manager_v1*>(wl_registry_bind(
        loop->registry(), global->name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    state.keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(state.manager, seat);
    zwp_virtual_keyboard_v1_keymap(state.keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(keymap.size() + 1));
    close(fd);
    // A compositor that refuses us says so with a protocol error.
    if (!loop->roundtrip()) {
        return fail("the compositor refused a virtual keyboard");
    }
    return true;
}

bool WaylandKeyboard::post(PasteChord chord) {
    if (!m_loop || !m_state->keyboard) {
        return false;
    }
    std::weak_ptr<State> weak = m_state;
    return m_loop->post([weak, chord] {
        if (auto self = weak.lock()) {
            self->type(chord);
        }
    });
}

}  // namespace velmarune
