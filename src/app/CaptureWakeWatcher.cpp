#include "app/CaptureWakeWatcher.h"

#include <algorithm>

namespace velmarune {

std::string wakeEventReason(WakeEvent event) {
    switch (event) {
        case WakeEvent::screenUnlocked:
            return "screen unlocked";
        case WakeEvent::displayWoke:
            return "display woke";
        case WakeEvent::systemWoke:
            return "system woke";
        case WakeEvent::captureError:
            return "capture error";
        case WakeEvent::interruptionEnded:
            return "interruption ended";
        case WakeEvent::deviceConnected:
            return "device connected";
    }
    return "unknown";
}

CaptureWakeWatcher::CaptureWakeWatcher(Dependencies deps) : m_deps(std::move(deps)) {}

void CaptureWakeWatcher::start(AppState& appState) {
    std::weak_ptr<CaptureWakeWatcher> weak = weak_from_this();
    m_modeSubscription = appState.mode.subscribe([weak](const AppMode& mode) {
        if (auto self = weak.lock(); self && mode != AppMode::dictating) {
            self->runDeferred();
        }
    });
}

void CaptureWakeWatcher::stop() {
    m_modeSubscription.reset();
}

void CaptureWakeWatcher::handle(WakeEvent event) {
    const std::string reason = wakeEventReason(event);
    if (event == WakeEvent::captureError) {
        const TimePoint now = m_deps.mainQueue->now();
        std::erase_if(m_errorRestarts,
                      [&](TimePoint at) { return secondsBetween(at, now) > kErrorWindowSeconds; });
        if (m_errorRestarts.size() >= kErrorRestartLimit) {
            m_log.info("capture error: restart limit reached, not restarting");
            return;
        }
        m_errorRestarts.push_back(now);
    }
    handleReason(reason);
}

void CaptureWakeWatcher::handleReason(const std::string& reason) {
    if (m_deps.isPressing()) {
        m_deferredReason = reason;
        return;
    }
    const TimePoint now = m_deps.mainQueue->now();
    // Wake, unlock and display events often arrive together: restart once.
    if (m_lastRestart && secondsBetween(*m_lastRestart, now) < kCoalesceSeconds) {
        return;
    }
    m_lastRestart = now;
    m_log.info("restarting capture: %{public}s", reason);
    m_deps.restart(reason);
}

void CaptureWakeWatcher::defaultInputChanged() {
    if (m_checkPending) {
        return;
    }
    m_checkPending = true;
    std::weak_ptr<CaptureWakeWatcher> weak = weak_from_this();
    m_deps.mainQueue->postAfter(kInputCheckDelaySeconds, [weak] {
        if (auto self = weak.lock()) {
            self->m_checkPending = false;
            self->inputCheck();
        }
    });
}

void CaptureWakeWatcher::inputCheck() {
    if (m_deps.isPressing()) {
        m_checkDeferred = true;
        return;
    }
    if (m_deps.inputIsStale()) {
        m_lastRestart = m_deps.mainQueue->now();
        m_log.info("restarting capture: input changed");
        m_deps.restart("input changed");
    }
}

void CaptureWakeWatcher::runDeferred() {
    if (auto reason = std::exchange(m_deferredReason, std::nullopt)) {
        handleReason(*reason);
    }
    if (std::exchange(m_checkDeferred, false)) {
        inputCheck();
    }
}

}  // namespace velmarune
