#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"

namespace velmarune {

// Events after which an audio session is commonly dead.
enum class WakeEvent {
    screenUnlocked,
    displayWoke,
    systemWoke,
    captureError,
    interruptionEnded,
    deviceConnected,
};

// "screen unlocked", "display woke", "system woke", ...: the reason logged.
std::string wakeEventReason(WakeEvent event);

// Restarts the always-on capture after wake, unlock, device changes and
// capture errors, never in the middle of a press. Main thread only.
class CaptureWakeWatcher : public std::enable_shared_from_this<CaptureWakeWatcher> {
  public:
    static constexpr double kCoalesceSeconds = 2.0;
    static constexpr double kInputCheckDelaySeconds = 1.0;
    static constexpr double kErrorWindowSeconds = 60.0;
    static constexpr size_t kErrorRestartLimit = 3;

    struct Dependencies {
        MainQueue* mainQueue = nullptr;
        std::function<bool()> isPressing;                        // the pipeline is recording
        std::function<void(const std::string& reason)> restart;  // restart the capture engine
        std::function<bool()> inputIsStale;  // the device in use is not the one chosen now
    };

    explicit CaptureWakeWatcher(Dependencies deps);

    // Runs the deferred work each time the mode leaves `dictating`.
    void start(AppState& appState);
    void stop();

    void handle(WakeEvent event);
    // "Velmarune.defaultInputChanged".
    void defaultInputChanged();

  private:
    void handleReason(const std::string& reason);
    void inputCheck();
    void runDeferred();

    Dependencies m_deps;
    Logger m_log{"CaptureWakeWatcher"};
    std::optional<TimePoint> m_lastRestart;
    std::optional<std::string> m_deferredReason;
    bool m_checkPending = false;
    bool m_checkDeferred = false;
    std::vector<TimePoint> m_errorRestarts;
    Subscription m_modeSubscription;
};

}  // namespace velmarune
