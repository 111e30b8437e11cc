#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "foundation/MainQueue.h"

namespace velmarune::testing {

// A real-time main queue for integration tests: work posted from any thread
// runs on the test's thread while it pumps (runUntil / runFor), in due-time
// then posting order.
class PumpedMainQueue : public MainQueue {
  public:
    void post(Task task) override { postAfter(0.0, std::move(task)); }
    void postAfter(double delaySeconds, Task task) override;
    TimePoint now() const override { return MonotonicClock::now(); }
    WallTime wallNow() const override { return std::chrono::system_clock::now(); }

    // Runs due work until `done` holds or `timeoutSeconds` pass; returns done().
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);
    void runFor(double seconds) {
        runUntil([] { return false; }, seconds);
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Clock::time_point due;
        uint64_t sequence;
        Task task;
    };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_sequence = 0;
    std::vector<Entry> m_entries;
};

}  // namespace velmarune::testing
