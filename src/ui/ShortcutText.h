#pragma once

#include <optional>
#include <string>

#include "hotkeys/PasteShortcut.h"
#include "keys/ModifierCombo.h"

namespace velmarune {

// Shortcuts as Linux desktops write them: "Ctrl+Alt+Shift+Super", then the
// key ("Ctrl+Shift+Super+V"). "None" for an empty combination.
std::string modifierText(ModifierCombo combo);
std::string shortcutText(const PasteShortcut& shortcut);

}  // namespace velmarune
