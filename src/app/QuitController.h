#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"

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
        std::weak_ptr<DictationPipeline> pipeline;
        // Brings this application to the front and shows the modal alert;
        // returns the index of the chosen button. The window manager gives
        // the focus back when it closes.
        std::function<size_t(const QuitAlert&)> showAlert;
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
