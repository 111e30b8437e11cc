#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/PollThread.h"

struct wl_display;
struct wl_registry;
struct wl_seat;

namespace velmarune {

// One Wayland connection and the one thread that reads it. The thread sleeps
// in poll on the connection, an eventfd for posted work and the descriptors
// backends watch (clipboard pipes, the compositor's IPC socket); it never
// wakes on a timer unless a backend asks for one. Backends bind their globals
// before start() and make requests only in posted tasks and event handlers,
// so one backend's requests reach the compositor in the order they were
// posted relative to another's (the clipboard write before the keystroke).
class WaylandEventLoop {
  public:
    using Clock = PollThread::Clock;

    // A global the compositor advertises.
    struct Global {
        uint32_t name = 0;
        std::string interface;
        uint32_t version = 0;
    };

    WaylandEventLoop() = default;
    ~WaylandEventLoop();
    WaylandEventLoop(const WaylandEventLoop&) = delete;
    WaylandEventLoop& operator=(const WaylandEventLoop&) = delete;

    // Connects to `socket` (WAYLAND_DISPLAY when empty) and lists the globals.
    bool connect(const std::string& socket, std::string* error = nullptr);
    wl_display* display() const { return m_display; }
    wl_registry* registry() const { return m_registry; }
    const std::vector<Global>& globals() const { return m_globals; }
    std::optional<Global> global(const std::string& interface) const;
    // The first seat, bound once; null when the compositor has none.
    wl_seat* seat();
    // One round trip, before start() only (set-up).
    bool roundtrip();

    // Watches `fd` for `events` (poll flags); the handler runs on the loop
    // thread with the flags that came. Loop thread or before start().
    void watch(int fd, short events, std::function<void(short)> handler);
    void unwatch(int fd);
    // Asked after every pass: the earliest time a backend has work due.
    void addDeadline(std::function<std::optional<Clock::time_point>()> next) {
        m_thread.addDeadline(std::move(next));
    }
    // Told on the loop thread when the compositor goes away (it exited or
    // the connection broke); the loop ends after.
    void addDisconnectHandler(std::function<void()> handler);

    void start();
    // Runs posted work still queued, then ends the thread. Idempotent.
    void stop() { m_thread.stop(); }
    bool running() const { return m_thread.running(); }

    // Runs `task` on the loop thread after everything posted before it.
    // False (and `task` dropped) when the loop is not running.
    bool post(std::function<void()> task) { return m_thread.post(std::move(task)); }

  private:
    bool pass();
    void disconnected();

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    std::vector<Global> m_globals;

    // Loop thread only (and set-up).
    struct Watch {
        short events;
        std::function<void(short)> handler;
    };
    std::map<int, Watch> m_watches;
    std::vector<std::function<void()>> m_onDisconnect;
    PollThread m_thread;
};

}  // namespace velmarune
