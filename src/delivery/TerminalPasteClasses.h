#pragma once

#include <string>
#include <vector>

#include "foundation/UserDefaults.h"
#include "platform/PasteKeystroke.h"

namespace velmarune {

// Window classes whose windows paste with Control+Shift+V (terminals).
inline constexpr const char* kTerminalPasteClassesKey = "terminalPasteClasses";

// The common terminal emulators' classes.
std::vector<std::string> defaultTerminalPasteClasses();

// The setting "terminalPasteClasses": class names separated by commas or
// whitespace; the defaults when it is unset or names nothing.
std::vector<std::string> terminalPasteClasses(const UserDefaults& defaults);

// The chord that pastes into a window whose application goes by `classNames`:
// Control+Shift+V when any of them is one of `terminalClasses` (letter case
// ignored), Control+V otherwise.
PasteChord pasteChordFor(const std::vector<std::string>& classNames,
                         const std::vector<std::string>& terminalClasses);

}  // namespace velmarune
