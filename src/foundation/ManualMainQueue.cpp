#include "foundation/ManualMainQueue.h"

#include <algorithm>

namespace velmarune {

namespace {
// 2026-01-01 00:00:00 UTC.
constexpr std::chrono::seconds kDefaultStart{1767225600};
}  // namespace

// The monotonic clock reads the same count as the wall clock until a step.
ManualMainQueue::ManualMainQueue() : m_now(kDefaultStart) {}

void ManualMainQueue::post(Task task) {
    postAfter(0.0, std::move(task));
}

void ManualMainQueue::postAfter(double delaySeconds, Task task) {
    std::lock_guard lock(m_mutex);
    m_entries.push_back(
        Entry{addSeconds(m_now, std::max(0.0, delaySeconds)), m_sequence++, std::move(task)});
}

TimePoint ManualMainQueue::now() const {
    std::lock_guard lock(m_mutex);
    return m_now;
}

WallTime ManualMainQueue::wallNow() const {
    std::lock_guard lock(m_mutex);
    return WallTime(std::chrono::duration_cast<WallTime::duration>(m_now.time_since_epoch())) +
           m_wallStep;
}

void ManualMainQueue::stepWallClock(double seconds) {
    std::lock_guard lock(m_mutex);
    m_wallStep +=
        std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double>(seconds));
}

bool ManualMainQueue::popDue(TimePoint limit, Entry& out) {
    std::lock_guard lock(m_mutex);
    auto best = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->due > limit) {
            continue;
        }
        if (best == m_entries.end() || it->due < best->due ||
            (it->due == best->due && it->sequence < best->sequence)) {
            best = it;
        }
    }
    if (best == m_entries.end()) {
        return false;
    }
    out = std::move(*best);
    m_entries.erase(best);
    if (out.due > m_now) {
        m_now = out.due;
    }
    return true;
}

size_t ManualMainQueue::runPending() {
    return advance(0.0);
}

size_t ManualMainQueue::advance(double seconds) {
    TimePoint limit;
    {
        std::lock_guard lock(m_mutex);
        limit = addSeconds(m_now, std::max(0.0, seconds));
    }
    size_t ran = 0;
    Entry entry;
    while (popDue(limit, entry)) {
        entry.task();
        ++ran;
    }
    std::lock_guard lock(m_mutex);
    m_now = std::max(m_now, limit);
    return ran;
}

size_t ManualMainQueue::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

}  // namespace velmarune
