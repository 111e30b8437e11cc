#include "foundation/RunLoopMainQueue.h"

#include <algorithm>

namespace velmarune {

void RunLoopMainQueue::post(Task task) {
    postAfter(0.0, std::move(task));
}

void RunLoopMainQueue::postAfter(double delaySeconds, Task task) {
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(std::max(0.0, delaySeconds)));
    {
        std::lock_guard lock(m_mutex);
        m_tasks.emplace(std::make_pair(due, m_sequence++), std::move(task));
    }
    m_wake.notify_all();
}

TimePoint RunLoopMainQueue::now() const {
    return MonotonicClock::now();
}

WallTime RunLoopMainQueue::wallNow() const {
    return std::chrono::system_clock::now();
}

bool RunLoopMainQueue::popDue(Clock::time_point limit, Task& out) {
    std::lock_guard lock(m_mutex);
    if (m_tasks.empty() || m_tasks.begin()->first.first > limit) {
        return false;
    }
    out = std::move(m_tasks.begin()->second);
    m_tasks.erase(m_tasks.begin());
    return true;
}

size_t RunLoopMainQueue::runPending() {
    // Work posted while running waits for the next call, so this always ends.
    const auto limit = Clock::now();
    size_t ran = 0;
    Task task;
    while (popDue(limit, task)) {
        task();
        ++ran;
    }
    return ran;
}

bool RunLoopMainQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    for (;;) {
        Task task;
        while (popDue(Clock::now(), task)) {
            task();
            task = nullptr;
            if (done()) {
                return true;
            }
        }
        if (done()) {
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        auto wakeAt = std::min(deadline, now + std::chrono::milliseconds(100));
        std::unique_lock lock(m_mutex);
        if (!m_tasks.empty()) {
            wakeAt = std::min(wakeAt, m_tasks.begin()->first.first);
        }
        m_wake.wait_until(lock, wakeAt, [&] {
            return !m_tasks.empty() && m_tasks.begin()->first.first <= Clock::now();
        });
    }
}

}  // namespace velmarune
