#include "platform/wayland/FocusRecord.h"

namespace velmarune {

void FocusRecord::publish(std::optional<FocusedWindow> now) {
    std::function<void()> callback;
    {
        std::lock_guard lock(m_mutex);
        if (now == m_focused) {
            return;
        }
        m_focused = std::move(now);
        ++m_activations;
        callback = m_onActivation;
    }
    if (callback) {
        callback();
    }
}

std::optional<std::string> FocusRecord::identity() {
    std::lock_guard lock(m_mutex);
    return m_focused ? std::optional(m_focused->identity()) : std::nullopt;
}

std::vector<std::string> FocusRecord::names() {
    std::lock_guard lock(m_mutex);
    return m_focused ? m_focused->names : std::vector<std::string>{};
}

uint64_t FocusRecord::activations() {
    std::lock_guard lock(m_mutex);
    return m_activations;
}

void FocusRecord::setOnActivation(std::function<void()> callback) {
    std::lock_guard lock(m_mutex);
    m_onActivation = std::move(callback);
}

}  // namespace velmarune
