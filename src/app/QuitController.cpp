#include "app/QuitController.h"

#include "app/DictationPipeline.h"

namespace velmarune {

QuitAlert QuitAlert::forQueued(int64_t count) {
    QuitAlert alert;
    if (count == 1) {
        alert.message = "1 dictation is still being transcribed.";
        alert.informativeText = "Quitting discards it.";
    } else {
        alert.message = std::to_string(count) + " dictations are still being transcribed.";
        alert.informativeText = "Quitting discards them.";
    }
    alert.buttons = {"Wait, Then Quit", "Quit"};
    return alert;
}

QuitController::QuitController(Dependencies deps) : m_deps(std::move(deps)) {}

void QuitController::requestQuit(std::optional<std::string> systemReason) {
    if (systemReason) {
        m_log.info("Quit by the system (reason=%{public}s): not asking", *systemReason);
        m_deps.terminate();
        return;
    }
    auto pipeline = m_deps.pipeline.lock();
    if (!pipeline || pipeline->queueLength() == 0) {
        m_deps.terminate();
        return;
    }
    // Nothing may paste into this application while its alert is in front;
    // after it the pastes go to the application that was in front before.
    pipeline->holdPastes();
    const size_t choice =
        m_deps.showAlert(QuitAlert::forQueued(static_cast<int64_t>(pipeline->queueLength())));
    if (choice != 0 || pipeline->queueLength() == 0) {
        m_deps.terminate();
        return;
    }
    std::weak_ptr<QuitController> weak = weak_from_this();
    pipeline->setOnQueueEmpty([weak] {
        if (auto self = weak.lock()) {
            self->m_deps.terminate();
        }
    });
    pipeline->releasePastesWhenFrontReturns(kFrontWaitSeconds);
}

}  // namespace velmarune
