#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/FrontApplication.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"

namespace velmarune {

// The Wayland backends for the output side of dictation (clipboard, paste
// keystroke, front window) on this session's compositor. Each is null where
// the compositor lacks what it needs; XWayland's then serves instead.
struct WaylandOutputs {
    std::shared_ptr<void> owner;  // keeps the backends and their connection alive
    Pasteboard* pasteboard = nullptr;
    PasteKeystroke* keystroke = nullptr;
    FrontApplication* frontApplication = nullptr;
    std::function<void()> stop;  // ends their thread: no callback comes after
};

// Whether this program has Wayland output backends at all.
extern const bool kWaylandOutputsBuilt;

// Connects to $WAYLAND_DISPLAY and starts the backends; absent, with the
// reason, when none can serve. `onDisconnect` runs on the backends' thread
// when the compositor goes away.
std::optional<WaylandOutputs> startWaylandOutputs(std::string* error,
                                                  std::function<void()> onDisconnect = {});

}  // namespace velmarune
