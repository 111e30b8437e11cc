#include "platform/x11/X11EventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "foundation/Log.h"

namespace velmarune {

namespace {
const Logger log{"X11EventLoop"};
}

X11EventLoop::~X11EventLoop() {
    stop();
    if (m_conn) {
        xcb_disconnect(m_conn);
    }
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
    }
}

bool X11EventLoop::connect(const std::string& display, std::string* error) {
    m_conn = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (xcb_connection_has_error(m_conn) || m_wakeFd < 0) {
        if (error) {
            *error = "cannot connect to the X server";
        }
        return false;
    }
    m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data;
    m_root = m_screen->root;
    return true;
}

void X11EventLoop::addEventHandler(EventHandler handler) {
    m_handlers.push_back(std::move(handler));
}

void X11EventLoop::addDeadline(std::function<std::optional<Clock::time_point>()> next) {
    m_deadlines.push_back(std::move(next));
}

void X11EventLoop::start() {
    if (!m_conn || m_thread.joinable()) {
        return;
    }
    m_running = true;
    m_thread = std::thread([this] { run(); });
}

void X11EventLoop::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool X11EventLoop::post(std::function<void()> task) {
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

void X11EventLoop::wake() {
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = write(m_wakeFd, &one, sizeof one);
    }
}

void X11EventLoop::dispatch(const xcb_generic_event_t* event) {
    for (auto& handler : m_handlers) handler(event);
}

void X11EventLoop::run() {
    m_threadID = std::this_thread::get_id();
    const int xfd = xcb_get_file_descriptor(m_conn);
    while (true) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_conn)) {
            dispatch(event);
            std::free(event);
        }
        if (xcb_connection_has_error(m_conn)) {
            log.error("X connection lost");
            break;
        }
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
        if (!tasks.empty()) {
            continue;  // the work may have read events into xcb's queue
        }
        xcb_flush(m_conn);
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
        pollfd fds[2] = {{xfd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] auto got = read(m_wakeFd, &count, sizeof count);
        }
    }
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_tasks.clear();
}

}  // namespace velmarune
