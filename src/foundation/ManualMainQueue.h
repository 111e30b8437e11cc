#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "foundation/MainQueue.h"

namespace velmarune {

// A main queue with virtual time for tests: nothing runs until the test says
// so, and advance() jumps the clock straight to each due task in turn. The
// wall clock follows the monotonic one, except where a test steps it alone.
class ManualMainQueue : public MainQueue {
  public:
    // Virtual time starts at a fixed date so that logs and rows are repeatable.
    ManualMainQueue();

    void post(Task task) override;
    void postAfter(double delaySeconds, Task task) override;
    TimePoint now() const override;
    WallTime wallNow() const override;

    // Runs everything due at the current time, including work that the run
    // itself posts for now. Returns the number of tasks run.
    size_t runPending();
    // Moves both clocks forward by `seconds`, running due work in time order.
    size_t advance(double seconds);
    // Steps only the wall clock, by `seconds` either way, as NTP or a
    // corrected date after resume would. Runs nothing.
    void stepWallClock(double seconds);
    // Number of tasks not yet run (due or not).
    size_t pendingCount() const;

  private:
    struct Entry {
        TimePoint due;
        uint64_t sequence;
        Task task;
    };
    bool popDue(TimePoint limit, Entry& out);

    mutable std::mutex m_mutex;
    TimePoint m_now;
    WallTime::duration m_wallStep{};
    uint64_t m_sequence = 0;
    std::vector<Entry> m_entries;
};

}  // namespace velmarune
