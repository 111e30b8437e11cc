#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "platform/HotKeyService.h"

namespace velmarune {

// A hot-key service with a scriptable set of shortcuts "held by another
// client" (refused with BadAccess) and a press the test triggers.
class FakeHotKeyService : public HotKeyService {
  public:
    static constexpr int kBadAccess = 10;

    void setPressedHandler(std::function<void()> pressed) override;
    int registerHotKey(uint16_t keyCode, ModifierCombo modifiers) override;
    void unregisterHotKey() override;

    void holdElsewhere(uint16_t keyCode, ModifierCombo modifiers);
    // Presses the registered shortcut: calls the handler when one is registered.
    void press();

    std::optional<std::pair<uint16_t, ModifierCombo>> registration() const;
    int handlerInstalls() const;

  private:
    mutable std::mutex m_mutex;
    std::function<void()> m_pressed;
    int m_handlerInstalls = 0;
    std::optional<std::pair<uint16_t, ModifierCombo>> m_registration;
    std::set<std::pair<uint16_t, uint64_t>> m_heldElsewhere;
};

}  // namespace velmarune
