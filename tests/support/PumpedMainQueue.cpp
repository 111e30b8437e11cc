#include "support/PumpedMainQueue.h"

#include <algorithm>

namespace velmarune::testing {

void PumpedMainQueue::postAfter(double delaySeconds, Task task) {
    {
        std::lock_guard lock(m_mutex);
        const auto delay = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(std::max(0.0, delaySeconds)));
        m_entries.push_back(Entry{Clock::now() + delay, m_sequence++, std::move(task)});
    }
    m_changed.notify_all();
}

bool PumpedMainQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    while (!done()) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            auto earliest = [&] {
                return std::min_element(
                    m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
                        return a.due < b.due || (a.due == b.due && a.sequence < b.sequence);
                    });
            };
            auto it = earliest();
            const auto now = Clock::now();
            if (it == m_entries.end() || it->due > now) {
                if (now >= deadline) {
                    break;
                }
                auto wakeAt = deadline;
                if (it != m_entries.end())
                    wakeAt = std::min(wakeAt, it->due);
                // Polls `done` at least every 5 ms: it may watch other threads.
                wakeAt = std::min(wakeAt, now + std::chrono::milliseconds(5));
                m_changed.wait_until(lock, wakeAt);
                continue;
            }
            task = std::move(it->task);
            m_entries.erase(it);
        }
        task();
    }
    return done();
}

}  // namespace velmarune::testing
