#include "platform/fake/FakeKeyboardMonitor.h"

namespace velmarune {

bool FakeKeyboardMonitor::start(Handlers handlers) {
    std::lock_guard lock(m_mutex);
    ++m_startCount;
    if (!m_available) {
        return false;
    }
    m_handlers = std::move(handlers);
    m_running = true;
    return true;
}

void FakeKeyboardMonitor::stop() {
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_handlers = {};
}

bool FakeKeyboardMonitor::running() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

void FakeKeyboardMonitor::sendFlags(uint64_t flags) {
    std::function<void(uint64_t)> handler;
    {
        std::lock_guard lock(m_mutex);
        m_flags = flags;
        if (m_running)
            handler = m_handlers.flagsChanged;
    }
    if (handler)
        handler(flags);
}

void FakeKeyboardMonitor::sendKeyDown(int64_t keyCode) {
    std::function<void(int64_t)> handler;
    {
        std::lock_guard lock(m_mutex);
        if (m_running)
            handler = m_handlers.keyDown;
    }
    if (handler)
        handler(keyCode);
}

}  // namespace velmarune
