#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmarune::x11 {

inline constexpr xcb_atom_t kNoAtom = XCB_ATOM_NONE;

// Frees what xcb hands out with malloc.
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;
using EventPtr = XcbPtr<xcb_generic_event_t>;

// The event type without the "sent by SendEvent" bit.
inline uint8_t eventType(const xcb_generic_event_t* event) {
    return event->response_type & 0x7f;
}

xcb_atom_t internAtom(xcb_connection_t* connection, const std::string& name);
// Empty when the atom is not valid.
std::string atomName(xcb_connection_t* connection, xcb_atom_t atom);

// Waits up to `seconds` for an event `wanted` accepts, handing every other
// event to `other` (which may be empty). Stops early when `stop` says so or
// the connection breaks. Returns the wanted event or null.
EventPtr waitForEvent(xcb_connection_t* connection,
                      const std::function<bool(const xcb_generic_event_t*)>& wanted, double seconds,
                      const std::function<bool()>& stop = {},
                      const std::function<void(const xcb_generic_event_t*)>& other = {});

}  // namespace velmarune::x11

namespace velmarune::x11 {

// A property's raw value and type; absent when it is missing or unreadable.
struct PropertyValue {
    xcb_atom_t type = XCB_ATOM_NONE;
    uint8_t format = 0;
    std::string bytes;
};
std::optional<PropertyValue> getProperty(xcb_connection_t* connection, xcb_window_t window,
                                         xcb_atom_t property, uint32_t maxBytes = 65536);
// The first 32-bit value of a property.
std::optional<uint32_t> getCardinal(xcb_connection_t* connection, xcb_window_t window,
                                    xcb_atom_t property);
// The window _NET_ACTIVE_WINDOW names, or none.
xcb_window_t activeWindow(xcb_connection_t* connection, xcb_window_t root);

// WM_CLASS split into its instance and class names.
struct WindowClass {
    std::string instance;
    std::string className;
};
WindowClass parseWmClass(const std::string& raw);

}  // namespace velmarune::x11
