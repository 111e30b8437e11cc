#pragma once

namespace velmarune {

// The key chord that pastes in the focused window: most applications take
// Control+V, terminals Control+Shift+V.
enum class PasteChord { controlV, controlShiftV };

// Posts the synthetic paste keystroke to the focused window.
class PasteKeystroke {
  public:
    virtual ~PasteKeystroke() = default;
    // Main thread; returns at once, the keys follow every clipboard write
    // made before. False when no keystroke can be posted at all.
    virtual bool post(PasteChord chord) = 0;
};

}  // namespace velmarune
