#include "ui/ShortcutText.h"

#include <array>
#include <string_view>

#include "keys/KeyCodes.h"

namespace velmarune {

namespace {
struct Name {
    uint32_t bit;
    std::string_view text;
};
// Qt's and the desktops' order: Ctrl, Alt, Shift, Super.
constexpr std::array<Name, 4> kModifierNames{{
    {kModifierControl, "Ctrl"},
    {kModifierOption, "Alt"},
    {kModifierShift, "Shift"},
    {kModifierCommand, "Super"},
}};

// The key table shows a few keys as symbols; menus here spell them.
std::string spelledKey(uint16_t keyCode) {
    const std::string name = keyName(keyCode);
    if (name == "↩") {
        return "Return";
    }
    if (name == "⇥") {
        return "Tab";
    }
    if (name == "⌫") {
        return "Backspace";
    }
    return name;
}
}  // namespace

std::string modifierText(ModifierCombo combo) {
    std::string out;
    for (const auto& name : kModifierNames) {
        if (combo.contains(name.bit)) {
            if (!out.empty()) {
                out += '+';
            }
            out += name.text;
        }
    }
    return out.empty() ? "None" : out;
}

std::string shortcutText(const PasteShortcut& shortcut) {
    const std::string key = spelledKey(shortcut.keyCode);
    return shortcut.modifiers.empty() ? key : modifierText(shortcut.modifiers) + "+" + key;
}

}  // namespace velmarune
