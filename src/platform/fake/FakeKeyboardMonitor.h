#pragma once

#include <cstdint>
#include <mutex>

#include "platform/KeyboardMonitor.h"

namespace velmarune {

// A scripted keyboard: tests press and release modifiers and keys, and the
// handlers run at once on the calling thread (as a monitor thread would).
class FakeKeyboardMonitor : public KeyboardMonitor {
  public:
    bool start(Handlers handlers) override;
    void stop() override;

    // Start fails while this is set (no display, no input extension).
    void setAvailable(bool available) { m_available = available; }
    bool running() const;
    int startCount() const { return m_startCount; }

    // Raw flag words, passed through unmasked (lock and device bits included).
    void sendFlags(uint64_t flags);
    void sendKeyDown(int64_t keyCode);

    // Convenience: hold or let go of modifier bits, one change per call.
    void press(uint64_t modifierBits) { sendFlags(m_flags | modifierBits); }
    void release(uint64_t modifierBits) { sendFlags(m_flags & ~modifierBits); }
    uint64_t flags() const { return m_flags; }

  private:
    mutable std::mutex m_mutex;
    Handlers m_handlers;
    bool m_running = false;
    bool m_available = true;
    int m_startCount = 0;
    uint64_t m_flags = 0;
};

}  // namespace velmarune
