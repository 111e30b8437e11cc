#include "platform/x11/X11EventLoop.h"

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
}

bool X11EventLoop::connect(const std::string& display, std::string* error) {
    m_conn = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    if (xcb_connection_has_error(m_conn) || !m_thread.valid()) {
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

void X11EventLoop::start() {
    if (m_conn) {
        m_thread.start([this] { return pass(); });
    }
}

void X11EventLoop::dispatch(const xcb_generic_event_t* event) {
    for (auto& handler : m_handlers) handler(event);
}

// Posted work has just run, so events it read into xcb's queue are handed
// out here, before the thread sleeps.
bool X11EventLoop::pass() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_conn)) {
        dispatch(event);
        std::free(event);
    }
    if (xcb_connection_has_error(m_conn)) {
        log.error("X connection lost");
        return false;
    }
    xcb_flush(m_conn);
    std::vector<pollfd> fds{{xcb_get_file_descriptor(m_conn), POLLIN, 0}};
    return m_thread.wait(fds);
}

}  // namespace velmarune
