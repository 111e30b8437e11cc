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

// Names the desktop that owns the shortcut and where its owner changes it.
std::string desktopShortcutNote(SystemShortcut::Desktop desktop) {
    switch (desktop) {
        case SystemShortcut::Desktop::gnome:
            return " is also a GNOME shortcut. To free it, open Settings > Keyboard > View and "
                   "Customize Shortcuts.";
        case SystemShortcut::Desktop::kde:
            return " is also a KDE Plasma shortcut. To free it, open System Settings > "
                   "Shortcuts.";
        case SystemShortcut::Desktop::unknown:
            break;
    }
    return " is also a shortcut of your desktop (see its keyboard shortcut settings).";
}
}  // namespace

PasteShortcutVerdict checkPasteShortcut(uint16_t keyCode, ModifierCombo modifiers,
                                        ModifierCombo dictationCombo,
                                        const std::vector<SystemShortcut>& systemShortcuts) {
    const uint64_t m = modifiers.rawValue;
    const std::string display = PasteShortcut{keyCode, modifiers}.display();

    // The desktop's own paste and copy: a grab on one of these would swallow
    // them everywhere, Velmarune's own paste keystroke included.
    struct Reserved {
        uint16_t keyCode;
        uint64_t modifiers;
        const char* what;
    };
    static constexpr Reserved kReserved[] = {
        {kKeyCodeV, kModifierControl, "Paste"},
        {kKeyCodeV, kModifierControl | kModifierShift, "Paste in terminals"},
        {kKeyCodeInsert, kModifierShift, "Paste"},
        {kKeyCodeC, kModifierControl, "Copy"},
        {kKeyCodeC, kModifierControl | kModifierShift, "Copy in terminals"},
        {kKeyCodeInsert, kModifierControl, "Copy"},
    };
    for (const auto& reserved : kReserved) {
        if (keyCode == reserved.keyCode && m == reserved.modifiers) {
            return refuse(display + " is " + reserved.what +
                          " itself. Choose a different combination.");
        }
    }
    if ((m & (kModifierCommand | kModifierControl)) == 0) {
        return refuse("Include Ctrl or Super, so the shortcut can't type a character.");
    }
    if (modifiers == dictationCombo) {
        return refuse("That's your dictation hotkey. Choose a different combination.");
    }
    if (keyCode == kKeyCodeV && m == (kModifierControl | kModifierOption | kModifierShift)) {
        return warn(display +
                    " replaces \"Paste Unformatted Text\" in LibreOffice and other apps.");
    }
    for (const auto& entry : systemShortcuts) {
        // Bits 0-15 are device-dependent and ignored; any other bit in 16-31
        // (a key we cannot express) keeps the entry from matching.
        if (entry.keyCode == keyCode && (entry.modifiers & 0xFFFF0000u) == m) {
            return warn(display + desktopShortcutNote(entry.desktop));
        }
    }
    return {};
}

}  // namespace velmarune
