#include "hotkeys/PasteShortcutCheck.h"

#include "hotkeys/PasteShortcut.h"
#include "keys/KeyCodes.h"

namespace velmarune {

namespace {
PasteShortcutVerdict refuse(std::string message) {
    return {PasteShortcutVerdict::Kind::refused, std::move(message)};
}
PasteShortcutVerdict warn(std::string message) {
    return {PasteShortcutVerdict::Kind::warning, std::move(message)};
}
}  // namespace

PasteShortcutVerdict checkPasteShortcut(uint16_t keyCode, ModifierCombo modifiers,
                                        ModifierCombo dictationCombo,
                                        const std::vector<SystemShortcut>& systemShortcuts) {
    const uint64_t m = modifiers.rawValue;
    const std::string display = PasteShortcut{keyCode, modifiers}.display();

    if ((m & (kModifierCommand | kModifierControl)) == 0) {
        return refuse("Include Command or Control, so the shortcut can't type a character.");
    }
    if (modifiers == dictationCombo) {
        return refuse("That's your dictation hotkey. Choose a different combination.");
    }
    if (keyCode == kKeyCodeV) {
        if (m == kModifierCommand) {
            return refuse("⌘V is Paste itself.");
        }
        if (m == (kModifierShift | kModifierCommand) ||
            m == (kModifierOption | kModifierShift | kModifierCommand)) {
            return warn(display + " replaces \"Paste and Match Style\" in many apps.");
        }
        if (m == (kModifierControl | kModifierCommand)) {
            return warn("⌃⌘V replaces Word's \"Paste Special\".");
        }
        if (m == (kModifierOption | kModifierCommand)) {
            return warn("⌥⌘V replaces Finder's \"Move Item Here\".");
        }
    }
    for (const auto& entry : systemShortcuts) {
        // Bits 0-15 are device-dependent and ignored; any other bit in 16-31
        // (a key we cannot express) keeps the entry from matching.
        if (entry.keyCode == keyCode && (entry.modifiers & 0xFFFF0000u) == m) {
            return warn(display +
                        " is also a macOS shortcut (System Settings > Keyboard > Keyboard "
                        "Shortcuts).");
        }
    }
    return {};
}

}  // namespace velmarune
