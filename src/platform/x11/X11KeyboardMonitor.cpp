#include "platform/x11/X11KeyboardMonitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <bitset>
#include <cstdlib>

#include "foundation/Log.h"
#include "platform/x11/X11Keymap.h"

namespace velmarune {

namespace {
const Logger kLog{"KeyboardMonitor"};

struct RawSelection {
    xcb_input_event_mask_t header;
    uint32_t mask;
};
}  // namespace

X11KeyboardMonitor::~X11KeyboardMonitor() {
    stop();
}

bool X11KeyboardMonitor::start(Handlers handlers) {
    stop();
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        kLog.error("cannot connect to the X server");
        return false;
    }
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(connection, &xcb_input_id);
    std::unique_ptr<xcb_input_xi_query_version_reply_t, decltype(&std::free)> version(
        xinput && xinput->present
            ? xcb_input_xi_query_version_reply(
                  connection, xcb_input_xi_query_version(connection, 2, 2), nullptr)
            : nullptr,
        &std::free);
    if (!version || version->major_version < 2) {
        xcb_disconnect(connection);
        kLog.error("XInput 2 is not available");
        return false;
    }
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    RawSelection selection{
        {XCB_INPUT_DEVICE_ALL_MASTER, 1},
        XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    if (xcb_generic_error_t* error = xcb_request_check(
            connection,
            xcb_input_xi_select_events_checked(connection, root, 1, &selection.header))) {
        std::free(error);
        xcb_disconnect(connection);
        kLog.error("cannot select raw key events");
        return false;
    }
    // The keymap and the keys already down are read before start returns
    // (raw events are already selected, so nothing in between is lost): keys
    // held now count as held, without being reported.
    auto keymap = std::make_unique<X11Keymap>();
    keymap->load(connection);
    std::bitset<256> held;
    if (auto* keys = xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr)) {
        for (int code = 0; code < 256; ++code) {
            if (keys->keys[code / 8] & (1u << (code % 8)))
                held.set(code);
        }
        std::free(keys);
    }
    m_connection = connection;
    m_xinputOpcode = xinput->major_opcode;
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this, handlers = std::move(handlers), keymap = std::move(keymap),
                            held]() mutable { run(std::move(handlers), std::move(keymap), held); });
    return true;
}

void X11KeyboardMonitor::stop() {
    if (!m_thread.joinable()) {
        return;
    }
    const uint64_t one = 1;
    (void)!write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    close(m_wakeFd);
    m_wakeFd = -1;
    xcb_disconnect(m_connection);
    m_connection = nullptr;
}

void X11KeyboardMonitor::run(Handlers handlers, std::unique_ptr<X11Keymap> keymapOwned,
                             std::bitset<256> held) {
    X11Keymap& keymap = *keymapOwned;
    auto heldFlags = [&] {
        uint64_t flags = 0;
        for (int code = 0; code < 256; ++code) {
            if (held.test(code))
                flags |= keymap.modifierBit(static_cast<uint8_t>(code));
        }
        return flags;
    };
    uint64_t flags = heldFlags();

    pollfd fds[2] = {{xcb_get_file_descriptor(m_connection), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    while (true) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_MAPPING_NOTIFY) {
                keymap.load(m_connection);
            } else if (type == XCB_GE_GENERIC) {
                auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event);
                const bool press = raw->event_type == XCB_INPUT_RAW_KEY_PRESS;
                const bool release = raw->event_type == XCB_INPUT_RAW_KEY_RELEASE;
                const uint32_t code = raw->detail;
                if (raw->extension == m_xinputOpcode && (press || release) && code < 256) {
                    if (keymap.isModifierKey(static_cast<uint8_t>(code))) {
                        // A release without a press (some tools send several)
                        // changes nothing and reports nothing.
                        held.set(code, press);
                        const uint64_t now = heldFlags();
                        if (now != flags) {
                            flags = now;
                            if (handlers.flagsChanged)
                                handlers.flagsChanged(flags);
                        }
                    } else if (press && !(raw->flags & XCB_INPUT_KEY_EVENT_FLAGS_KEY_REPEAT)) {
                        held.set(code);
                        if (handlers.keyDown)
                            handlers.keyDown(code);
                    } else if (release) {
                        held.reset(code);
                    }
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(m_connection)) {
            kLog.error("X connection lost; keyboard monitor stopped");
            return;
        }
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents & POLLIN) {
            return;
        }
    }
}

}  // namespace velmarune
