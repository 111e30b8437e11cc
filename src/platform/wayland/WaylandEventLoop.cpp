#include "platform/wayland/WaylandEventLoop.h"

#include <poll.h>
#include <signal.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/Log.h"

namespace velmarune {

namespace {
const Logger log{"WaylandEventLoop"};

void onGlobal(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
    static_cast<std::vector<WaylandEventLoop::Global>*>(data)->push_back(
        {name, interface, version});
}

void onGlobalRemove(void* data, wl_registry*, uint32_t name) {
    auto& globals = *static_cast<std::vector<WaylandEventLoop::Global>*>(data);
    std::erase_if(globals, [name](const auto& g) { return g.name == name; });
}

const wl_registry_listener registryListener{onGlobal, onGlobalRemove};
}  // namespace

WaylandEventLoop::~WaylandEventLoop() {
    stop();
    if (m_seat) {
        wl_seat_destroy(m_seat);
    }
    if (m_registry) {
        wl_registry_destroy(m_registry);
    }
    if (m_display) {
        wl_display_disconnect(m_display);
    }
}

bool WaylandEventLoop::connect(const std::string& socket, std::string* error) {
    m_display = wl_display_connect(socket.empty() ? nullptr : socket.c_str());
    if (!m_display || !m_thread.valid()) {
        if (error) {
            *error = "cannot connect to the Wayland compositor";
        }
        return false;
    }
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, &m_globals);
    if (!roundtrip()) {
        if (error) {
            *error = "the Wayland compositor does not answer";
        }
        return false;
    }
    return true;
}

std::optional<WaylandEventLoop::Global> WaylandEventLoop::global(
    const std::string& interface) const {
    for (const auto& g : m_globals) {
        if (g.interface == interface) {
            return g;
        }
    }
    return std::nullopt;
}

wl_seat* WaylandEventLoop::seat() {
    if (!m_seat && m_registry) {
        if (auto g = global("wl_seat")) {
            m_seat = static_cast<wl_seat*>(wl_registry_bind(m_registry, g->name, &wl_seat_interface,
                                                            std::min<uint32_t>(g->version, 5)));
        }
    }
    return m_seat;
}

bool WaylandEventLoop::roundtrip() {
    return m_display && wl_display_roundtrip(m_display) >= 0;
}

void WaylandEventLoop::watch(int fd, short events, std::function<void(short)> handler) {
    m_watches[fd] = Watch{events, std::move(handler)};
}

void WaylandEventLoop::unwatch(int fd) {
    m_watches.erase(fd);
}

void WaylandEventLoop::addDisconnectHandler(std::function<void()> handler) {
    m_onDisconnect.push_back(std::move(handler));
}

void WaylandEventLoop::start() {
    if (!m_display) {
        return;
    }
    // A clipboard reader that goes away mid-transfer must cost us an EPIPE,
    // not the process: the loop thread starts with SIGPIPE blocked.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    m_thread.start([this] { return pass(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void WaylandEventLoop::disconnected() {
    log.error("the Wayland compositor went away (%{public}s)",
              std::string(strerror(wl_display_get_error(m_display))));
    m_thread.markStopped();
    for (auto& handler : m_onDisconnect) handler();
}

// One pass after the posted work: read and dispatch the compositor's events,
// then the watched descriptors. False ends the thread.
bool WaylandEventLoop::pass() {
    const auto lost = [this] {
        disconnected();
        return false;
    };
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0) {
            return lost();
        }
    }
    short displayEvents = POLLIN;
    if (wl_display_flush(m_display) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(m_display);
            return lost();
        }
        displayEvents |= POLLOUT;  // the socket is full; go on when it drains
    }
    std::vector<pollfd> fds{{wl_display_get_fd(m_display), displayEvents, 0}};
    for (const auto& [fd, watch] : m_watches) fds.push_back({fd, watch.events, 0});
    if (!m_thread.wait(fds)) {
        wl_display_cancel_read(m_display);
        return false;
    }
    if (fds[0].revents & POLLIN) {
        if (wl_display_read_events(m_display) < 0) {
            return lost();
        }
    } else {
        wl_display_cancel_read(m_display);
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            return lost();
        }
    }
    if (wl_display_dispatch_pending(m_display) < 0) {
        return lost();
    }
    for (size_t i = 1; i < fds.size(); ++i) {
        if (!fds[i].revents) {
            continue;
        }
        // A handler may drop its own watch or another's.
        auto it = m_watches.find(fds[i].fd);
        if (it != m_watches.end()) {
            auto handler = it->second.handler;
            handler(fds[i].revents);
        }
    }
    return true;
}

}  // namespace velmarune
