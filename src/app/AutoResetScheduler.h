#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/AppState.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"

namespace velmarune {

// Runs the audio-and-engine reset once an hour, but only while nobody is
// dictating. Main thread only.
class AutoResetScheduler : public std::enable_shared_from_this<AutoResetScheduler> {
  public:
    static constexpr double kIntervalSeconds = 3600.0;
    static constexpr double kIdleThresholdSeconds = 60.0;
    static constexpr double kBusyRetrySeconds = 30.0;

    AutoResetScheduler(MainQueue& mainQueue, std::shared_ptr<AppState> appState,
                       std::function<void()> performReset);

    void start();
    void stop();

  private:
    void arm(double seconds);
    void fire(uint64_t generation);

    MainQueue& m_mainQueue;
    std::shared_ptr<AppState> m_appState;
    std::function<void()> m_performReset;
    Logger m_log{"AutoResetScheduler"};
    // Each arm supersedes the previous timer: only the newest generation fires.
    uint64_t m_generation = 0;
    bool m_running = false;
    Subscription m_resetSubscription;
};

}  // namespace velmarune
