#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace velmarune {

// The thread under a server connection's event loop: it sleeps in poll() on
// the descriptors the loop gives it plus an eventfd, so it wakes for events,
// posted work and stop only, and on a timer only when a deadline asks for one.
// The owner supplies the body of one pass; the thread repeats it until the
// body returns false or stop() is called.
class PollThread {
  public:
    using Clock = std::chrono::steady_clock;

    PollThread();
    ~PollThread();
    PollThread(const PollThread&) = delete;
    PollThread& operator=(const PollThread&) = delete;

    // False when no eventfd could be made (the thread would never wake).
    bool valid() const { return m_wakeFd >= 0; }

    // Starts the thread. Each pass: runs the posted work, ends if stop() was
    // called, else calls `pass`, which handles its connection and sleeps in
    // wait(). `pass` returning false ends the thread. Called once.
    void start(std::function<bool()> pass);
    // Runs work still queued, then ends the thread. Idempotent.
    void stop();
    bool running() const { return m_running.load(); }
    // From the loop thread: no more work is taken (the connection is gone).
    void markStopped();

    // Runs `task` on the thread after everything posted before it. False
    // (and `task` dropped) when the thread is not running.
    bool post(std::function<void()> task);

    // Asked before each sleep: the earliest time the owner has work due.
    void addDeadline(std::function<std::optional<Clock::time_point>()> next);
    // From `pass`: polls `fds` and the wake descriptor until something
    // arrives or the earliest deadline. False when poll itself failed.
    bool wait(std::vector<pollfd>& fds);

  private:
    int timeoutMs() const;
    void wake();

    int m_wakeFd = -1;
    std::vector<std::function<std::optional<Clock::time_point>()>> m_deadlines;

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

}  // namespace velmarune
