#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/MainQueue.h"

namespace velmarune {

class DictationPipeline;

// The confirmation shown when quitting with dictations still queued.
struct QuitAlert {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons;  // "Wait, Then Quit", "Quit"

    static QuitAlert forQueued(int64_t count);
};

// Decides whether quitting may go ahead now, asks while dictations are
// queued, and can wait for them to paste first. Main thread only.
class QuitController : public std::enable_shared_from_this<QuitController> {
  public:
    static constexpr double kFrontWaitSeconds = 1.0;

    struct Dependencies {
        MainQueue* mainQueue = nullptr;
        std::weak_ptr<DictationPipeline> pipeline;
        std::function<std::optional<std::string>()> frontApp;
        // Brings this application to the front and shows the modal alert;
        // returns the index of the chosen button.
        std::function<size_t(const QuitAlert&)> showAlert;
        // Re-activates the application that was in front before the alert.
        std::function<void(const std::optional<std::string>&)> reactivate;
        // Runs the termination sequence; does not return in the product.
        std::function<void()> terminate;
    };

    explicit QuitController(Dependencies deps);

    // The user (or the session) asks to quit. `systemReason` is set when the
    // system itself is going down ("power off", "SIGTERM", ...): never ask then.
    void requestQuit(std::optional<std::string> systemReason = std::nullopt);

  private:
    Dependencies m_deps;
    Logger m_log{"Bootstrap"};
};

}  // namespace velmarune
