#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hotkeys/SystemShortcut.h"
#include "keys/ModifierCombo.h"

namespace velmarune {

// What the settings tab does with a newly recorded Paste Last Dictation
// shortcut: store it, ask "Save Anyway" / "Cancel" (warning), or show the
// message and store nothing (refused).
struct PasteShortcutVerdict {
    enum class Kind { accepted, warning, refused };
    Kind kind = Kind::accepted;
    std::string message;

    bool refuses() const { return kind == Kind::refused; }
    bool operator==(const PasteShortcutVerdict&) const = default;
};

// The first matching rule decides: the desktop's own paste and copy chords;
// no Ctrl or Super; the dictation chord itself; a V shortcut other
// applications already use; a shortcut the desktop uses (modifier bits 16-31
// equal exactly).
PasteShortcutVerdict checkPasteShortcut(uint16_t keyCode, ModifierCombo modifiers,
                                        ModifierCombo dictationCombo,
                                        const std::vector<SystemShortcut>& systemShortcuts);

}  // namespace velmarune
