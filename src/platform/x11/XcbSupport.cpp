#include "platform/x11/XcbSupport.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace velmarune::x11 {

xcb_atom_t internAtom(xcb_connection_t* connection, const std::string& name) {
    auto cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str());
    XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : kNoAtom;
}

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom) {
    XcbPtr<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
    if (!reply) {
        return {};
    }
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<size_t>(xcb_get_atom_name_name_length(reply.get())));
}

EventPtr waitForEvent(xcb_connection_t* connection,
                      const std::function<bool(const xcb_generic_event_t*)>& wanted, double seconds,
                      const std::function<bool()>& stop,
                      const std::function<void(const xcb_generic_event_t*)>& other) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    xcb_flush(connection);
    while (true) {
        while (EventPtr event{xcb_poll_for_event(connection)}) {
            if (wanted(event.get())) {
                return event;
            }
            if (other) {
                other(event.get());
            }
        }
        if (xcb_connection_has_error(connection) || (stop && stop())) {
            return nullptr;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return nullptr;
        }
        // Short slices so that `stop` is noticed promptly.
        pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(std::min<int64_t>(left.count(), 20)));
    }
}

}  // namespace velmarune::x11

namespace velmarune::x11 {

std::optional<PropertyValue> getProperty(xcb_connection_t* connection, xcb_window_t window,
                                         xcb_atom_t property, uint32_t maxBytes) {
    XcbPtr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, window, property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, maxBytes / 4),
                               nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    PropertyValue value;
    value.type = reply->type;
    value.format = reply->format;
    value.bytes.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<size_t>(xcb_get_property_value_length(reply.get())));
    return value;
}

std::optional<uint32_t> getCardinal(xcb_connection_t* connection, xcb_window_t window,
                                    xcb_atom_t property) {
    auto value = getProperty(connection, window, property, 4);
    if (!value || value->format != 32 || value->bytes.size() < 4) {
        return std::nullopt;
    }
    uint32_t result = 0;
    std::memcpy(&result, value->bytes.data(), 4);
    return result;
}

xcb_window_t activeWindow(xcb_connection_t* connection, xcb_window_t root) {
    auto window = getCardinal(connection, root, internAtom(connection, "_NET_ACTIVE_WINDOW"));
    return window ? *window : static_cast<xcb_window_t>(XCB_WINDOW_NONE);
}

KeyboardMap::KeyboardMap(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    m_min = setup->min_keycode;
    const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    XcbPtr<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, m_min, count), nullptr));
    if (!reply) {
        return;
    }
    m_perKey = reply->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    m_keysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(reply.get()));
}

xcb_keycode_t KeyboardMap::keycodeFor(uint32_t keysym) const {
    if (m_perKey == 0) {
        return 0;
    }
    for (size_t key = 0; key * m_perKey < m_keysyms.size(); ++key) {
        for (size_t level = 0; level < std::min<size_t>(m_perKey, 2); ++level) {
            if (m_keysyms[key * m_perKey + level] == keysym) {
                return static_cast<xcb_keycode_t>(m_min + key);
            }
        }
    }
    return 0;
}

uint32_t KeyboardMap::keysymOf(xcb_keycode_t keycode, uint8_t group) const {
    const size_t column = size_t{2} * group;
    if (m_perKey <= column || keycode < m_min) {
        return 0;
    }
    const size_t index = static_cast<size_t>(keycode - m_min) * m_perKey + column;
    return index < m_keysyms.size() ? m_keysyms[index] : 0;
}

}  // namespace velmarune::x11
