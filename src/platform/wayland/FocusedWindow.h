#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace velmarune {

// The window that has the keyboard focus, as a compositor reports it.
struct FocusedWindow {
    std::string id;                  // the compositor's own, tells two windows apart
    std::vector<std::string> names;  // app_id, or an X11 window's instance and class
    uint32_t pid = 0;                // 0 when unknown

    // The main name ("?" when none), ":" and the pid.
    std::string identity() const;
    bool operator==(const FocusedWindow&) const = default;
};

// The focused window in a sway `get_tree` answer; absent when the focus is on
// an empty workspace or the tree has no focused node.
std::optional<FocusedWindow> focusedInSwayTree(const nlohmann::json& tree);

// The window in Hyprland's `j/activewindow` answer; absent for "{}" (no window).
std::optional<FocusedWindow> focusedInHyprlandWindow(const nlohmann::json& window);

}  // namespace velmarune
