#include "platform/x11/X11KeyboardMonitor.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <bitset>
#include <mutex>
#include <optional>

#include "foundation/Log.h"
#include "platform/x11/X11EventLoop.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11Keymap.h"
#include "platform/x11/XcbSupport.h"

namespace velmarune {

using namespace x11;

namespace {
const Logger kLog{"KeyboardMonitor"};

struct RawSelection {
    xcb_input_event_mask_t header;
    uint32_t mask;
};
}  // namespace

struct X11KeyboardMonitor::State {
    // Loop thread only (and set-up before the loop starts).
    uint8_t xinputOpcode = 0;
    std::shared_ptr<const X11Keymap> keymap;
    std::bitset<256> held;
    uint64_t flags = 0;  // of the held modifiers, as last reported

    // Called under the lock, so that none runs once stop() has returned.
    std::mutex handlersMutex;
    std::optional<Handlers> handlers;

    uint64_t heldFlags() const {
        uint64_t result = 0;
        for (int code = 0; code < 256; ++code) {
            if (held.test(code))
                result |= keymap->modifierBit(static_cast<uint8_t>(code));
        }
        return result;
    }

    // Keys are tracked whether or not anyone listens, so a start finds the
    // keys held at that moment counted as held, without reporting them.
    void handle(const xcb_generic_event_t* event) {
        if (eventType(event) != XCB_GE_GENERIC) {
            return;
        }
        auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
        const bool press = raw->event_type == XCB_INPUT_RAW_KEY_PRESS;
        const bool release = raw->event_type == XCB_INPUT_RAW_KEY_RELEASE;
        const uint32_t code = raw->detail;
        if (raw->extension != xinputOpcode || !(press || release) || code >= 256) {
            return;
        }
        if (keymap->isModifierKey(static_cast<uint8_t>(code))) {
            // A release without a press (some tools send several) changes
            // nothing and reports nothing.
            held.set(code, press);
            const uint64_t now = heldFlags();
            if (now != flags) {
                flags = now;
                std::lock_guard lock(handlersMutex);
                if (handlers && handlers->flagsChanged)
                    handlers->flagsChanged(flags);
            }
        } else if (press && !(raw->flags & XCB_INPUT_KEY_EVENT_FLAGS_KEY_REPEAT)) {
            held.set(code);
            std::lock_guard lock(handlersMutex);
            if (handlers && handlers->keyDown)
                handlers->keyDown(code);
        } else if (release) {
            held.reset(code);
        }
    }
};

X11KeyboardMonitor::X11KeyboardMonitor() : m_state(std::make_shared<State>()) {}

X11KeyboardMonitor::~X11KeyboardMonitor() {
    stop();
    if (m_ownLoop) {
        m_loop->stop();
    }
}

bool X11KeyboardMonitor::attach(std::shared_ptr<X11EventLoop> loop, const X11Keyboard& keyboard,
                                std::string* error) {
    auto fail = [&](const char* why) {
        kLog.error("%{public}s", std::string(why));
        if (error) {
            *error = why;
        }
        return false;
    };
    xcb_connection_t* connection = loop->connection();
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(connection, &xcb_input_id);
    XcbPtr<xcb_input_xi_query_version_reply_t> version(
        xinput && xinput->present
            ? xcb_input_xi_query_version_reply(
                  connection, xcb_input_xi_query_version(connection, 2, 2), nullptr)
            : nullptr);
    if (!version || version->major_version < 2) {
        return fail("XInput 2 is not available");
    }
    RawSelection selection{
        {XCB_INPUT_DEVICE_ALL_MASTER, 1},
        XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    if (XcbPtr<xcb_generic_error_t> failed{xcb_request_check(
            connection,
            xcb_input_xi_select_events_checked(connection, loop->root(), 1, &selection.header))}) {
        return fail("cannot select raw key events");
    }
    State& state = *m_state;
    state.xinputOpcode = xinput->major_opcode;
    state.keymap = keyboard.keymap();
    // The keys already down, read after raw events were selected so that
    // nothing in between is lost.
    if (XcbPtr<xcb_query_keymap_reply_t> keys{
            xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr)}) {
        for (int code = 0; code < 256; ++code) {
            if (keys->keys[code / 8] & (1u << (code % 8)))
                state.held.set(code);
        }
    }
    state.flags = state.heldFlags();
    std::weak_ptr<State> weak = m_state;
    loop->addEventHandler([weak](const xcb_generic_event_t* event) {
        if (auto self = weak.lock()) {
            self->handle(event);
        }
    });
    m_loop = std::move(loop);
    return true;
}

bool X11KeyboardMonitor::start(Handlers handlers) {
    if (!m_loop) {
        auto loop = std::make_shared<X11EventLoop>();
        auto keyboard = std::make_unique<X11Keyboard>();
        std::string error;
        if (!loop->connect("", &error)) {
            kLog.error("cannot connect to the X server");
            return false;
        }
        if (!keyboard->attach(loop, &error) || !attach(loop, *keyboard, &error)) {
            return false;
        }
        loop->start();
        m_ownKeyboard = std::move(keyboard);
        m_ownLoop = true;
    }
    std::lock_guard lock(m_state->handlersMutex);
    m_state->handlers = std::move(handlers);
    return true;
}

void X11KeyboardMonitor::stop() {
    std::lock_guard lock(m_state->handlersMutex);
    m_state->handlers.reset();
}

}  // namespace velmarune
