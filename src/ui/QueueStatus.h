#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/MainQueue.h"
#include "foundation/Subscription.h"

namespace velmarune {

struct AppState;

// What the queue panel says while dictations wait: nothing for a queue that
// drains within 1.5 s, then "Transcribing N"; "Recording · Transcribing N"
// while a new dictation is recorded behind queued ones. Main thread only.
class QueueStatus : public std::enable_shared_from_this<QueueStatus> {
  public:
    static constexpr double kQuietSeconds = 1.5;
    // The recheck lands just after the quiet time, never just before it.
    static constexpr double kRecheckMarginSeconds = 0.01;

    // `show` receives each new text; none hides the panel.
    QueueStatus(MainQueue& queue, std::function<void(const std::optional<std::string>&)> show)
        : m_queue(queue), m_show(std::move(show)) {}

    // Follows the state's mode, queue count and waiting flag; each change is
    // handled on a later turn of the main queue, as the pipeline's update ends.
    void start(AppState& state);
    void update(bool isDictating, int64_t queued, bool waitingForKeys);

    const std::optional<std::string>& text() const { return m_text; }

  private:
    void setText(std::optional<std::string> text);

    MainQueue& m_queue;
    std::function<void(const std::optional<std::string>&)> m_show;
    std::optional<std::string> m_text;
    std::optional<TimePoint> m_queuedSince;
    uint64_t m_recheckGeneration = 0;
    std::vector<Subscription> m_subscriptions;
};

}  // namespace velmarune
