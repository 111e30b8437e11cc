#include "platform/wayland/WaylandBackends.h"

#include "app/FrontChange.h"
#include "foundation/Log.h"
#include "platform/wayland/ForeignToplevelFrontApplication.h"
#include "platform/wayland/HyprlandFrontApplication.h"
#include "platform/wayland/SwayFrontApplication.h"
#include "platform/wayland/WaylandEventLoop.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandPasteboard.h"

namespace velmarune {

namespace {
const Logger log{"WaylandBackends"};

// Where nothing tells the window in front: a window is always there, but
// whose it is stays unknown.
class UnknownFrontApplication : public FrontApplication {
  public:
    std::optional<std::string> frontmost() override { return kUnknownFrontIdentity; }
    std::vector<std::string> frontmostClassNames() override { return {}; }
    uint64_t activationCount() override { return 0; }
    void setOnActivation(std::function<void()>) override {}
};
}  // namespace

WaylandBackends::~WaylandBackends() {
    // No event may reach a backend while it is destroyed.
    if (m_loop) {
        m_loop->stop();
    }
    m_front.reset();
    m_keystroke.reset();
    m_pasteboard.reset();
}

void WaylandBackends::stop() {
    if (m_loop) {
        m_loop->stop();
    }
}

bool WaylandBackends::connected() const {
    return m_loop && m_loop->running();
}

std::unique_ptr<WaylandBackends> WaylandBackends::start(const Options& options,
                                                        std::string* error) {
    std::unique_ptr<WaylandBackends> backends(new WaylandBackends());
    backends->m_loop = std::make_shared<WaylandEventLoop>();
    auto& loop = backends->m_loop;
    if (!loop->connect(options.socket, error)) {
        return nullptr;
    }
    std::string why;
    auto pasteboard = std::make_unique<WaylandPasteboard>();
    if (pasteboard->attach(loop, &why)) {
        backends->m_served.push_back("clipboard: " + pasteboard->protocolName());
        backends->m_pasteboard = std::move(pasteboard);
    } else {
        backends->m_missing.push_back("clipboard: " + why);
    }
    auto keyboard = std::make_unique<WaylandKeyboard>();
    if (keyboard->attach(loop, &why)) {
        backends->m_served.push_back("paste keystroke: virtual-keyboard-unstable-v1");
        backends->m_keystroke = std::move(keyboard);
    } else {
        backends->m_missing.push_back("paste keystroke: " + why);
    }
    // The compositor's own IPC names the process too; the protocol only the app.
    std::string ipcWhy;
    auto sway = std::make_unique<SwayFrontApplication>();
    auto hyprland = std::make_unique<HyprlandFrontApplication>();
    auto toplevels = std::make_unique<ForeignToplevelFrontApplication>();
    if (sway->attach(loop, options.swaySocket, &ipcWhy)) {
        backends->m_served.push_back("front window: sway IPC");
        backends->m_front = std::move(sway);
    } else if (hyprland->attach(loop, options.hyprlandSocketDir, &ipcWhy)) {
        backends->m_served.push_back("front window: Hyprland IPC");
        backends->m_front = std::move(hyprland);
    } else if (toplevels->attach(loop, &why)) {
        backends->m_served.push_back("front window: wlr-foreign-toplevel-management (no pids)");
        backends->m_front = std::move(toplevels);
    } else {
        backends->m_missing.push_back("front window: " + why);
        backends->m_front = std::make_unique<UnknownFrontApplication>();
    }
    loop->addDisconnectHandler([onDisconnect = options.onDisconnect] {
        log.error(
            "the Wayland compositor has gone away: no pasting until Velmarune is started again "
            "in a new session");
        if (onDisconnect) {
            onDisconnect();
        }
    });
    loop->start();
    return backends;
}

}  // namespace velmarune
