#pragma once

#include <cstdint>
#include <functional>

namespace velmarune {

// Listens to the whole desktop's keyboard without taking anything from it:
// no key is grabbed, delayed or changed.
class KeyboardMonitor {
  public:
    struct Handlers {
        // The held modifiers changed. `flags` uses the stored layout (Shift
        // 0x20000, Control 0x40000, Option 0x80000, Command 0x100000); lock
        // keys and left/right never show. Called on the monitor's own thread.
        std::function<void(uint64_t flags)> flagsChanged;
        // A key other than a modifier went down (the backend's own key code,
        // used only for logging). Called on the monitor's own thread.
        std::function<void(int64_t keyCode)> keyDown;
    };

    virtual ~KeyboardMonitor() = default;
    // Starts listening, replacing any earlier handlers. False when the
    // keyboard cannot be observed (no display, no input extension).
    virtual bool start(Handlers handlers) = 0;
    // Stops listening; no handler runs once this returns. Idempotent.
    virtual void stop() = 0;
};

}  // namespace velmarune
