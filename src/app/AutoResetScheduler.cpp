#include "app/AutoResetScheduler.h"

namespace velmarune {

AutoResetScheduler::AutoResetScheduler(MainQueue& mainQueue, std::shared_ptr<AppState> appState,
                                       std::function<void()> performReset)
    : m_mainQueue(mainQueue),
      m_appState(std::move(appState)),
      m_performReset(std::move(performReset)) {}

void AutoResetScheduler::start() {
    m_running = true;
    m_log.info("Started — interval=%{public}fs, idleThreshold=%{public}fs, busyRetry=%{public}fs",
               kIntervalSeconds, kIdleThresholdSeconds, kBusyRetrySeconds);
    std::weak_ptr<AutoResetScheduler> weak = weak_from_this();
    m_resetSubscription =
        m_appState->lastResetTime.subscribe([weak](const std::optional<TimePoint>& at) {
            auto self = weak.lock();
            if (!self || !at || !self->m_running) {
                return;
            }
            self->m_log.info("Reset observed (manual or auto), re-arming next fire to +%{public}fs",
                             kIntervalSeconds);
            self->arm(kIntervalSeconds);
        });
    arm(kIntervalSeconds);
}

void AutoResetScheduler::stop() {
    m_running = false;
    ++m_generation;
    m_resetSubscription.reset();
}

void AutoResetScheduler::arm(double seconds) {
    const uint64_t generation = ++m_generation;
    std::weak_ptr<AutoResetScheduler> weak = weak_from_this();
    m_mainQueue.postAfter(seconds, [weak, generation] {
        if (auto self = weak.lock()) {
            self->fire(generation);
        }
    });
}

void AutoResetScheduler::fire(uint64_t generation) {
    if (!m_running || generation != m_generation) {
        return;
    }
    const AppState& state = *m_appState;
    const bool quietLongEnough =
        !state.lastPTTReleaseTime ||
        secondsBetween(*state.lastPTTReleaseTime, m_mainQueue.now()) >= kIdleThresholdSeconds;
    if (state.mode.get() == AppMode::idle && state.engineStatus.get() == WhisperStatus::ready() &&
        quietLongEnough) {
        m_log.info("Idle threshold met — performing auto-reset");
        m_log.console("idle — performing auto-reset");
        // The reset's completion re-arms the timer through lastResetTime; until
        // then no timer is pending, so a failed reset would stop the hourly
        // cycle: arm a fallback that any completed reset supersedes.
        arm(kIntervalSeconds);
        m_performReset();
        return;
    }
    m_log.info("Busy at fire time (mode=%{public}s) — deferring +%{public}fs",
               appModeRawValue(state.mode.get()), kBusyRetrySeconds);
    m_log.console("busy — deferring 30s");
    arm(kBusyRetrySeconds);
}

}  // namespace velmarune
