#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/PollThread.h"

namespace velmarune {

// One X connection and the one thread that reads it. The thread sleeps in
// poll on the connection's descriptor and an eventfd: it wakes for events
// and posted work only, never on a timer unless a handler asks for one.
// Backends that share the connection add their event handlers before
// start() and do their X work in posted tasks, so requests from one
// backend reach the server in the order they were posted.
class X11EventLoop {
  public:
    using Clock = PollThread::Clock;
    using EventHandler = std::function<void(const xcb_generic_event_t*)>;

    X11EventLoop() = default;
    ~X11EventLoop();
    X11EventLoop(const X11EventLoop&) = delete;
    X11EventLoop& operator=(const X11EventLoop&) = delete;

    // Connects to `display` (DISPLAY when empty). Handlers may be added and
    // set-up requests made on connection() until start().
    bool connect(const std::string& display, std::string* error = nullptr);
    xcb_connection_t* connection() const { return m_conn; }
    xcb_window_t root() const { return m_root; }
    const xcb_screen_t* screen() const { return m_screen; }

    void addEventHandler(EventHandler handler);
    // Asked after every pass: the earliest time a handler has work due
    // (an expiring transfer), or nothing.
    void addDeadline(std::function<std::optional<Clock::time_point>()> next) {
        m_thread.addDeadline(std::move(next));
    }

    void start();
    // Runs posted work still queued, then ends the thread. Idempotent.
    void stop() { m_thread.stop(); }
    bool running() const { return m_thread.running(); }

    // Runs `task` on the loop thread, after everything posted before it.
    // False (and `task` dropped) when the loop is not running.
    bool post(std::function<void()> task) { return m_thread.post(std::move(task)); }
    // Hands an event read during a nested wait to the handlers.
    void dispatch(const xcb_generic_event_t* event);

  private:
    bool pass();

    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    const xcb_screen_t* m_screen = nullptr;
    std::vector<EventHandler> m_handlers;
    PollThread m_thread;
};

}  // namespace velmarune
