#pragma once

#include <string>
#include <vector>

namespace velmarune {

// What a Wayland compositor advertises, read on a short-lived connection of
// our own.
struct WaylandRegistry {
    bool reachable = false;
    std::vector<std::string> globals;  // interface names, in the compositor's order
    std::string error;                 // why it is not reachable
};

// `socket` empty: $WAYLAND_DISPLAY. Waits at most `timeoutSeconds` for the
// compositor's answer.
WaylandRegistry probeWaylandRegistry(const std::string& socket = {}, double timeoutSeconds = 2.0);

}  // namespace velmarune
