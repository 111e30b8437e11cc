#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "keys/ModifierCombo.h"

namespace velmarune {

class UserDefaults;

inline constexpr const char* kPasteLastShortcutKey = "pasteLastShortcut";

// The Paste Last Dictation shortcut: one key plus modifiers. Key codes are
// stored as the virtual key codes of the original layout; backends translate.
// The setting as a whole is optional: std::nullopt means "off".
struct PasteShortcut {
    uint16_t keyCode = 9;  // V
    ModifierCombo modifiers{kModifierControl | kModifierShift | kModifierCommand};

    // Modifier symbols followed by the key name, for example "Ctrl+Shift+Super+V".
    std::string display() const;

    // "none" reads as off; a dictionary with numeric "keyCode" and "modifiers"
    // as that shortcut (modifiers masked); anything else as the default.
    static std::optional<PasteShortcut> load(const UserDefaults& defaults);
    // Writes the dictionary (or "none" when off). Registering it again is the
    // caller's business (AppState::reloadPasteShortcut).
    static void save(UserDefaults& defaults, const std::optional<PasteShortcut>& shortcut);

    bool operator==(const PasteShortcut&) const = default;
};

}  // namespace velmarune
