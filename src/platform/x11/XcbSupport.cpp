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

WindowClass parseWmClass(const std::string& raw) {
    // "instance\0class\0"; either may be missing in a careless client's value.
    WindowClass result;
    const auto split = raw.find('\0');
    result.instance = raw.substr(0, split);
    if (split != std::string::npos) {
        const std::string rest = raw.substr(split + 1);
        result.className = rest.substr(0, rest.find('\0'));
    }
    return result;
}

}  // namespace velmarune::x11
