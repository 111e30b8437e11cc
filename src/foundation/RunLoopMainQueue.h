#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include "foundation/MainQueue.h"

namespace velmarune {

// A main queue for terminal commands and integration tests: the thread that
// calls runUntil() is the main thread while it runs, and work posted from
// other threads waits for it.
class RunLoopMainQueue : public MainQueue {
  public:
    void post(Task task) override;
    void postAfter(double delaySeconds, Task task) override;
    TimePoint now() const override;
    WallTime wallNow() const override;

    // Runs due work on the calling thread until `done` returns true (checked
    // after each task and at least every 0.1 s) or `timeoutSeconds` pass.
    // Returns whether `done` became true.
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);
    // Runs what is due now, without waiting. Returns the number of tasks run.
    size_t runPending();

  private:
    using Clock = std::chrono::steady_clock;
    bool popDue(Clock::time_point limit, Task& out);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    uint64_t m_sequence = 0;
    std::map<std::pair<Clock::time_point, uint64_t>, Task> m_tasks;
};

}  // namespace velmarune
