#include "platform/wayland/WaylandEventLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>
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
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
    }
}

bool WaylandEventLoop::connect(const std::string& socket, std::string* error) {
    m_display = wl_display_connect(socket.empty() ? nullptr : socket.c_str());
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (!m_display || m_wakeFd < 0) {
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

void WaylandEventLoop::addDeadline(std::function<std::optional<Clock::time_point>()> next) {
    m_deadlines.push_back(std::move(next));
}

void WaylandEventLoop::addDisconnectHandler(std::function<void()> handler) {
    m_onDisconnect.push_back(std::move(handler));
}

void WaylandEventLoop::start() {
    if (!m_display || m_thread.joinable()) {
        return;
    }
    m_running = true;
    m_thread = std::thread([this] { run(); });
}

void WaylandEventLoop::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool WaylandEventLoop::post(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || m_stopping) {
            return false;
        }
        m_tasks.push_back(std::move(task));
    }
    wake();
    return true;
}

void WaylandEventLoop::wake() {
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = write(m_wakeFd, &one, sizeof one);
    }
}

void WaylandEventLoop::disconnected() {
    log.error("the Wayland compositor went away (%{public}s)",
              std::string(strerror(wl_display_get_error(m_display))));
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    for (auto& handler : m_onDisconnect) handler();
}

void WaylandEventLoop::run() {
    m_threadID = std::this_thread::get_id();
    // A clipboard reader that goes away mid-transfer must cost us an EPIPE,
    // not the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    const int displayFd = wl_display_get_fd(m_display);
    bool lost = false;
    while (!lost) {
        std::deque<std::function<void()>> tasks;
        bool stopping = false;
        {
            std::lock_guard lock(m_mutex);
            tasks.swap(m_tasks);
            stopping = m_stopping;
        }
        for (auto& task : tasks) task();
        if (stopping) {
            break;
        }
        while (wl_display_prepare_read(m_display) != 0) {
            if (wl_display_dispatch_pending(m_display) < 0) {
                lost = true;
                break;
            }
        }
        if (lost) {
            break;
        }
        short displayEvents = POLLIN;
        if (wl_display_flush(m_display) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(m_display);
                lost = true;
                break;
            }
            displayEvents |= POLLOUT;  // the socket is full; go on when it drains
        }
        int timeoutMs = -1;
        const auto now = Clock::now();
        for (auto& next : m_deadlines) {
            if (auto due = next()) {
                const auto ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(*due - now).count() + 1;
                const int clamped = static_cast<int>(std::max<int64_t>(0, ms));
                timeoutMs = timeoutMs < 0 ? clamped : std::min(timeoutMs, clamped);
            }
        }
        std::vector<pollfd> fds{{displayFd, displayEvents, 0}, {m_wakeFd, POLLIN, 0}};
        for (const auto& [fd, watch] : m_watches) fds.push_back({fd, watch.events, 0});
        if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
            wl_display_cancel_read(m_display);
            break;
        }
        if (fds[0].revents & POLLIN) {
            if (wl_display_read_events(m_display) < 0) {
                lost = true;
                break;
            }
        } else {
            wl_display_cancel_read(m_display);
            if (fds[0].revents & (POLLHUP | POLLERR)) {
                lost = true;
                break;
            }
        }
        if (wl_display_dispatch_pending(m_display) < 0) {
            lost = true;
            break;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] auto got = read(m_wakeFd, &count, sizeof count);
        }
        for (size_t i = 2; i < fds.size(); ++i) {
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
    }
    if (lost) {
        disconnected();
    }
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_tasks.clear();
}

}  // namespace velmarune
