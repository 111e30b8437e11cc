#pragma once

#include <cstdint>
#include <functional>

#include "keys/ModifierCombo.h"

namespace velmarune {

// The desktop's global hot-key service: one registered shortcut, consumed
// wherever it is pressed. Registration and unregistration are called on the
// main thread.
class HotKeyService {
  public:
    virtual ~HotKeyService() = default;

    // Installs the handler called once per press of the registered shortcut
    // (key repeat does not press again). Called on the service's own thread.
    virtual void setPressedHandler(std::function<void()> pressed) = 0;
    // Registers `keyCode` (a stored virtual key code) with `modifiers`,
    // replacing nothing: unregister first. Returns 0 on success, otherwise the
    // service's status (on X11 the protocol error code; 10 is BadAccess, the
    // shortcut is held by another client) and nothing stays registered.
    virtual int registerHotKey(uint16_t keyCode, ModifierCombo modifiers) = 0;
    // Drops the registration, if any.
    virtual void unregisterHotKey() = 0;
};

}  // namespace velmarune
