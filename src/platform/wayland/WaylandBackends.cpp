#include "platform/wayland/WaylandBackends.h"

#include "foundation/Log.h"
#include "platform/wayland/SwayFrontApplication.h"
#include "platform/wayland/WaylandEventLoop.h"
#include "platform/wayland/WaylandKeyboard.h"
#include "platform/wayland/WaylandPasteboard.h"

namespace velmarune {

namespace {
const Logger log{"WaylandBackends"};
}

WaylandBackends::~WaylandBackends() {
    // No event may reach a backend while it is destroyed.
    if (m_loop) {
        m_loop->stop();
    }
    m_front.reset();
    m_keystroke.reset();
    m_pasteboard.reset();
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
    auto sway = std::make_unique<SwayFrontApplication>();
    if (sway->attach(loop, options.swaySocket, &why)) {
        backends->m_served.push_back("front window: sway IPC");
        backends->m_front = std::move(sway);
    } else {
        backends->m_missing.push_back("front window: " + why);
    }
    loop->addDisconnectHandler([] {
        log.error(
            "the Wayland compositor has gone away: no pasting until Velmarune is started again "
            "in a new session");
    });
    loop->start();
    return backends;
}

}  // namespace velmarune
