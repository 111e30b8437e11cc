#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/FrontApplication.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"

namespace velmarune {

class WaylandEventLoop;

// The output side of a wlroots desktop on one Wayland connection and one
// thread: clipboard, paste keystroke and front window. Each is null where the
// compositor lacks what it needs, and `missing` says so in plain words.
class WaylandBackends {
  public:
    struct Options {
        std::string socket;  // WAYLAND_DISPLAY when empty
        // Compositor IPC, found from the environment when empty; "none" skips it.
        std::string swaySocket;         // SWAYSOCK
        std::string hyprlandSocketDir;  // from HYPRLAND_INSTANCE_SIGNATURE
        // Called on the backends' thread when the compositor goes away.
        std::function<void()> onDisconnect;
    };

    ~WaylandBackends();

    // Connects and starts the thread. Null, with the reason, when no
    // compositor answers.
    static std::unique_ptr<WaylandBackends> start(const Options& options,
                                                  std::string* error = nullptr);

    Pasteboard* pasteboard() const { return m_pasteboard.get(); }
    PasteKeystroke* keystroke() const { return m_keystroke.get(); }
    // Never null: where the compositor tells nothing, every window is "?:0".
    FrontApplication* frontApplication() const { return m_front.get(); }
    // Which service answers each question, e.g. "clipboard: wlr-data-control-unstable-v1".
    const std::vector<std::string>& served() const { return m_served; }
    const std::vector<std::string>& missing() const { return m_missing; }
    // False once the compositor has gone away.
    bool connected() const;
    // Ends the thread: no callback comes after this returns.
    void stop();

  private:
    WaylandBackends() = default;

    // Declared first: the connection outlives the objects made on it.
    std::shared_ptr<WaylandEventLoop> m_loop;
    std::unique_ptr<Pasteboard> m_pasteboard;
    std::unique_ptr<PasteKeystroke> m_keystroke;
    std::unique_ptr<FrontApplication> m_front;
    std::vector<std::string> m_served;
    std::vector<std::string> m_missing;
};

}  // namespace velmarune
