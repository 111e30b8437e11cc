#pragma once

#include <memory>
#include <string>

#include "platform/wayland/FocusRecord.h"

namespace velmarune {

class WaylandEventLoop;

// The active window's class and pid from Hyprland's IPC: its event socket
// watched on the Wayland event loop, the window asked for on its request
// socket at start and after every focus event.
class HyprlandFrontApplication : public RecordedFrontApplication {
  public:
    HyprlandFrontApplication();
    ~HyprlandFrontApplication() override;
    HyprlandFrontApplication(const HyprlandFrontApplication&) = delete;
    HyprlandFrontApplication& operator=(const HyprlandFrontApplication&) = delete;

    // `socketDir` holds .socket.sock and .socket2.sock; when empty it is found
    // from HYPRLAND_INSTANCE_SIGNATURE. `loop` has not started yet.
    bool attach(std::shared_ptr<WaylandEventLoop> loop, const std::string& socketDir,
                std::string* error = nullptr);

    struct State;

  private:
    std::shared_ptr<WaylandEventLoop> m_loop;
    std::shared_ptr<State> m_state;
};

}  // namespace velmarune
