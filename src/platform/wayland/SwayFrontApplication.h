#pragma once

#include <memory>
#include <string>

#include "platform/wayland/FocusRecord.h"

namespace velmarune {

class WaylandEventLoop;

// The focused window's app_id (or, for an X11 window, its WM_CLASS) and pid
// from sway's IPC: the tree read once, then again after every window and
// workspace event it sends. Served on the Wayland event loop's thread.
class SwayFrontApplication : public RecordedFrontApplication {
  public:
    SwayFrontApplication();
    ~SwayFrontApplication() override;
    SwayFrontApplication(const SwayFrontApplication&) = delete;
    SwayFrontApplication& operator=(const SwayFrontApplication&) = delete;

    // Connects to sway's socket at `socketPath` (SWAYSOCK when empty) and
    // watches it on `loop`, which has not started yet.
    bool attach(std::shared_ptr<WaylandEventLoop> loop, const std::string& socketPath,
                std::string* error = nullptr);

    struct State;

  private:
    std::shared_ptr<WaylandEventLoop> m_loop;
    std::shared_ptr<State> m_state;
};

}  // namespace velmarune
