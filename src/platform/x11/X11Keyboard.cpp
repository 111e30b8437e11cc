#include "platform/x11/X11Keyboard.h"

#include <X11/keysym.h>
#include <xcb/xcb.h>
// xkb.h names a field "explicit"; keep it away from the C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>

#include <atomic>

#include "foundation/Log.h"
#include "keys/ModifierCombo.h"
#include "platform/x11/X11EventLoop.h"
#include "platform/x11/X11Keymap.h"
#include "platform/x11/XcbSupport.h"

namespace velmarune {

using namespace x11;

namespace {
const Logger log{"X11Keyboard"};
}

struct X11Keyboard::State {
    xcb_connection_t* conn = nullptr;
    uint8_t xkbEventBase = 0;
    bool xtest = false;
    std::atomic<uint64_t> combined{0};
    std::atomic<uint64_t> hardware{0};

    // Loop thread only (and set-up before the loop starts).
    X11Keymap keymap;
    uint8_t baseMods = 0, latchedMods = 0;
    uint8_t group = 0, lockedGroup = 0;

    void publish() {
        // Locked modifiers (Caps Lock) are not keys held down.
        combined = keymap.flagsForMask(static_cast<uint16_t>(baseMods | latchedMods));
        hardware = keymap.flagsForMask(baseMods);
    }

    void handle(const xcb_generic_event_t* event) {
        const uint8_t type = eventType(event);
        if (type == XCB_MAPPING_NOTIFY) {
            keymap.load(conn);
            publish();
            return;
        }
        if (xkbEventBase == 0 || type != xkbEventBase) {
            return;
        }
        const uint8_t xkbType = reinterpret_cast<const uint8_t*>(event)[1];
        if (xkbType == XCB_XKB_STATE_NOTIFY) {
            auto state = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
            baseMods = state->baseMods;
            latchedMods = state->latchedMods;
            group = state->group;
            lockedGroup = state->lockedGroup;
            publish();
        } else if (xkbType == XCB_XKB_MAP_NOTIFY || xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY) {
            keymap.load(conn);
            publish();
        }
    }

    // The Latin group to lock while typing, when the active one has no V.
    std::optional<uint8_t> latinGroupToLock(uint8_t v) const {
        if (xkbEventBase == 0) {
            return std::nullopt;
        }
        auto isV = [](uint32_t sym) { return sym == XK_v || sym == XK_V; };
        if (group < 2 && isV(keymap.keysymOf(v, group))) {
            return std::nullopt;  // the target sees a V already
        }
        // The core map shows the first two groups reliably.
        for (uint8_t candidate = 0; candidate < 2; ++candidate) {
            if (isV(keymap.keysymOf(v, candidate))) {
                return candidate;
            }
        }
        return std::nullopt;
    }

    void type(PasteChord chord) {
        if (xcb_connection_has_error(conn)) {
            return;
        }
        const uint8_t control = keymap.keycodeFor(XK_Control_L);
        const uint8_t shift = keymap.keycodeFor(XK_Shift_L);
        uint8_t v = keymap.keycodeFor(XK_v);
        if (!v) {
            v = keymap.keycodeFor(XK_V);
        }
        if (!control || !shift || !v) {
            log.error("no key code for the paste keystroke");
            return;
        }
        // With a Hebrew (or other non-Latin) group active the V key is no V,
        // and many applications then ignore Control+V: lock a Latin group for
        // the keystroke and give the user's group back afterwards.
        const auto latin = latinGroupToLock(v);
        const uint8_t userGroup = lockedGroup;
        if (latin) {
            xcb_xkb_latch_lock_state(conn, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, *latin, 0, 0, 0);
        }
        auto key = [&](uint8_t type, xcb_keycode_t code) {
            xcb_test_fake_input(conn, type, code, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
        };
        const bool withShift = chord == PasteChord::controlShiftV;
        key(XCB_KEY_PRESS, control);
        if (withShift) {
            key(XCB_KEY_PRESS, shift);
        }
        key(XCB_KEY_PRESS, v);
        key(XCB_KEY_RELEASE, v);
        if (withShift) {
            key(XCB_KEY_RELEASE, shift);
        }
        key(XCB_KEY_RELEASE, control);
        if (latin) {
            // A round trip first: the keys are typed in the Latin group.
            XcbPtr<xcb_get_input_focus_reply_t> sync(
                xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
            xcb_xkb_latch_lock_state(conn, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, userGroup, 0, 0, 0);
        }
        xcb_flush(conn);
    }
};

X11Keyboard::X11Keyboard() : m_state(std::make_shared<State>()) {}

X11Keyboard::~X11Keyboard() {
    stop();
}

bool X11Keyboard::start(const std::string& display, std::string* error) {
    auto loop = std::make_shared<X11EventLoop>();
    if (!loop->connect(display, error) || !attach(loop, error)) {
        return false;
    }
    m_ownLoop = true;
    loop->start();
    return true;
}

bool X11Keyboard::attach(std::shared_ptr<X11EventLoop> loop, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    State& state = *m_state;
    state.conn = loop->connection();
    const auto* xtest = xcb_get_extension_data(state.conn, &xcb_test_id);
    state.xtest = xtest && xtest->present;
    XcbPtr<xcb_xkb_use_extension_reply_t> xkb(
        xcb_xkb_use_extension_reply(state.conn, xcb_xkb_use_extension(state.conn, 1, 0), nullptr));
    if (!xkb || !xkb->supported) {
        return fail("the X server lacks XKEYBOARD");
    }
    state.xkbEventBase = xcb_get_extension_data(state.conn, &xcb_xkb_id)->first_event;
    if (!state.keymap.load(state.conn)) {
        return fail("the X server sent no keyboard map");
    }
    // Only modifier and group changes: other keys wake nothing.
    xcb_xkb_select_events_details_t details{};
    details.affectState = details.stateDetails =
        XCB_XKB_STATE_PART_MODIFIER_BASE | XCB_XKB_STATE_PART_MODIFIER_LATCH |
        XCB_XKB_STATE_PART_GROUP_STATE | XCB_XKB_STATE_PART_GROUP_LOCK;
    details.affectNewKeyboard = details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    const uint16_t events = XCB_XKB_EVENT_TYPE_STATE_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                            XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY;
    const uint16_t maps =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
    xcb_xkb_select_events_aux(state.conn, XCB_XKB_ID_USE_CORE_KBD, events, 0, 0, maps, maps,
                              &details);
    // The state now; events keep it current from here on.
    XcbPtr<xcb_xkb_get_state_reply_t> now(xcb_xkb_get_state_reply(
        state.conn, xcb_xkb_get_state(state.conn, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    if (now) {
        state.baseMods = now->baseMods;
        state.latchedMods = now->latchedMods;
        state.group = now->group;
        state.lockedGroup = now->lockedGroup;
    }
    state.publish();
    std::weak_ptr<State> weak = m_state;
    loop->addEventHandler([weak](const xcb_generic_event_t* event) {
        if (auto self = weak.lock()) {
            self->handle(event);
        }
    });
    m_loop = std::move(loop);
    if (!state.xtest) {
        log.error("the X server lacks XTEST: no paste keystroke");
    }
    return true;
}

void X11Keyboard::stop() {
    if (m_loop && m_ownLoop) {
        m_loop->stop();
    }
}

uint64_t X11Keyboard::combinedFlags() {
    return m_state->combined.load();
}

uint64_t X11Keyboard::hardwareFlags() {
    return m_state->hardware.load();
}

std::shared_ptr<const X11Keymap> X11Keyboard::keymap() const {
    return {m_state, &m_state->keymap};
}

bool X11Keyboard::post(PasteChord chord) {
    if (!m_loop || !m_state->xtest) {
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
