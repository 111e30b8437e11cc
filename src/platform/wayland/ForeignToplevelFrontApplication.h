#pragma once

#include <memory>
#include <string>

#include "platform/wayland/FocusRecord.h"

namespace velmarune {

class WaylandEventLoop;

// The activated toplevel from wlr-foreign-toplevel-management, for wlroots
// compositors without an IPC we read (river, labwc, Wayfire). The protocol
// tells the app_id but no process id: identities read "app_id:0".
class ForeignToplevelFrontApplication : public RecordedFrontApplication {
  public:
    ForeignToplevelFrontApplication();
    ~ForeignToplevelFrontApplication() override;
    ForeignToplevelFrontApplication(const ForeignToplevelFrontApplication&) = delete;
    ForeignToplevelFrontApplication& operator=(const ForeignToplevelFrontApplication&) = delete;

    // On a connected loop that has not started yet; its owner starts it.
    bool attach(std::shared_ptr<WaylandEventLoop> loop, std::string* error = nullptr);

    struct State;

  private:
    std::shared_ptr<WaylandEventLoop> m_loop;
    std::shared_ptr<State> m_state;
};

}  // namespace velmarune
