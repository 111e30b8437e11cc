#include "ui/QueueStatus.h"

#include "app/AppState.h"

namespace velmarune {

void QueueStatus::start(AppState& state) {
    std::weak_ptr<QueueStatus> weak = weak_from_this();
    auto changed = [weak, &state] {
        if (auto self = weak.lock()) {
            self->m_queue.post([weak, &state] {
                if (auto self = weak.lock()) {
                    self->update(state.mode.get() == AppMode::dictating,
                                 state.queuedDictations.get(), state.waitingForKeys.get());
                }
            });
        }
    };
    m_subscriptions.push_back(state.mode.subscribe([changed](const AppMode&) { changed(); }));
    m_subscriptions.push_back(
        state.queuedDictations.subscribe([changed](const int64_t&) { changed(); }));
    m_subscriptions.push_back(
        state.waitingForKeys.subscribe([changed](const bool&) { changed(); }));
}

void QueueStatus::update(bool isDictating, int64_t queued, bool waitingForKeys) {
    const TimePoint now = m_queue.now();
    if (queued == 0) {
        m_queuedSince.reset();
    } else if (!m_queuedSince) {
        m_queuedSince = now;
    }
    const double elapsed = m_queuedSince ? secondsBetween(*m_queuedSince, now) : 0.0;

    std::optional<std::string> text;
    if (isDictating && queued >= 1) {
        text = "Recording · Transcribing " + std::to_string(queued);
    } else if (waitingForKeys) {
        text = "Ready. Pastes when you release the keys.";
    } else if (queued >= 1 && elapsed >= kQuietSeconds) {
        text = "Transcribing " + std::to_string(queued);
    }
    setText(std::move(text));

    const uint64_t generation = ++m_recheckGeneration;
    if (queued > 0 && elapsed < kQuietSeconds) {
        std::weak_ptr<QueueStatus> weak = weak_from_this();
        m_queue.postAfter(kQuietSeconds - elapsed + kRecheckMarginSeconds,
                          [weak, generation, isDictating, queued, waitingForKeys] {
                              auto self = weak.lock();
                              if (self && self->m_recheckGeneration == generation) {
                                  self->update(isDictating, queued, waitingForKeys);
                              }
                          });
    }
}

void QueueStatus::setText(std::optional<std::string> text) {
    // The panel is rebuilt only when the words change.
    if (text == m_text) {
        return;
    }
    m_text = std::move(text);
    if (m_show) {
        m_show(m_text);
    }
}

}  // namespace velmarune
