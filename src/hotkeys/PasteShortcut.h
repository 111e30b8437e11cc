#pragma once

#include <cstdint>

#include "hotkeys/ModifierCombo.h"

namespace velmarune {

// The Paste Last Dictation shortcut: one key plus modifiers. Key codes are
// stored as the virtual key codes of the original layout; backends translate.
struct PasteShortcut {
    uint16_t keyCode = 9;  // V
    ModifierCombo modifiers{kModifierControl | kModifierShift | kModifierCommand};

    bool operator==(const PasteShortcut&) const = default;
};

}  // namespace velmarune
