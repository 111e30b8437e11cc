#include "platform/fake/FakeHotKeyService.h"

namespace velmarune {

void FakeHotKeyService::setPressedHandler(std::function<void()> pressed) {
    std::lock_guard lock(m_mutex);
    m_pressed = std::move(pressed);
    ++m_handlerInstalls;
}

int FakeHotKeyService::registerHotKey(uint16_t keyCode, ModifierCombo modifiers) {
    std::lock_guard lock(m_mutex);
    if (m_heldElsewhere.count({keyCode, modifiers.rawValue})) {
        return kBadAccess;
    }
    m_registration = std::make_pair(keyCode, modifiers);
    return 0;
}

void FakeHotKeyService::unregisterHotKey() {
    std::lock_guard lock(m_mutex);
    m_registration.reset();
}

void FakeHotKeyService::holdElsewhere(uint16_t keyCode, ModifierCombo modifiers) {
    std::lock_guard lock(m_mutex);
    m_heldElsewhere.insert({keyCode, modifiers.rawValue});
}

void FakeHotKeyService::press() {
    std::function<void()> handler;
    {
        std::lock_guard lock(m_mutex);
        if (!m_registration)
            return;
        handler = m_pressed;
    }
    if (handler)
        handler();
}

std::optional<std::pair<uint16_t, ModifierCombo>> FakeHotKeyService::registration() const {
    std::lock_guard lock(m_mutex);
    return m_registration;
}

int FakeHotKeyService::handlerInstalls() const {
    std::lock_guard lock(m_mutex);
    return m_handlerInstalls;
}

}  // namespace velmarune
