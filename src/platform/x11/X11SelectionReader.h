#pragma once

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Pasteboard.h"

namespace velmarune::x11 {

// A hidden, unmapped window with property-change events.
xcb_window_t makeHiddenWindow(xcb_connection_t* connection, const xcb_screen_t* screen);

// Reads the CLIPBOARD of another client on a connection of its own: the
// target list and each target's data, large transfers (INCR) included. Every
// wait is bounded. Used by one snapshot at a time (its lock serialises them).
class X11SelectionReader : public std::enable_shared_from_this<X11SelectionReader> {
  public:
    struct Bounds {
        double replySeconds = 1.0;  // for the owner to answer one request
        double chunkSeconds = 1.0;  // between two chunks of a large transfer
        size_t maxTargets = 256;
    };

    explicit X11SelectionReader(Bounds bounds) : m_bounds(bounds) {}
    ~X11SelectionReader();
    bool connect(const char* display);
    xcb_window_t window() const { return m_window; }

    // The current owner, or none (also when the server is gone).
    xcb_window_t owner();
    // An item reader over what `owner` holds now.
    std::shared_ptr<PasteboardItemReader> itemReader(xcb_window_t owner);

    // The owner's data targets (meta targets and names that are no atoms left out).
    std::vector<std::pair<std::string, xcb_atom_t>> targets(xcb_window_t owner);
    // Absent when the owner refuses, changed, stalls past the bounds or `stop` says so.
    std::optional<PasteboardBytes> data(xcb_window_t owner, xcb_atom_t target,
                                        const std::function<bool()>& stop);

  private:
    std::vector<std::pair<std::string, xcb_atom_t>> readTargets(xcb_window_t owner);
    std::optional<PasteboardBytes> readTarget(xcb_window_t owner, xcb_atom_t target,
                                              const std::function<bool()>& stop);
    std::optional<std::pair<xcb_atom_t, PasteboardBytes>> takeProperty();

    Bounds m_bounds;
    std::mutex m_mutex;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_window = XCB_WINDOW_NONE;
    xcb_atom_t m_clipboard{}, m_targets{}, m_incr{}, m_property{};
};

}  // namespace velmarune::x11
