#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hotkeys/SystemShortcut.h"

namespace velmarune {

class DesktopShortcutSource;
struct DesktopShortcutText;

// Reads the desktop's keyboard shortcuts, so that a new Paste Last Dictation
// shortcut that the desktop also uses can be warned about.
namespace HotkeyConflictScanner {

struct Conflict {
    std::string description;
};

// A modifier the stored layout cannot express (Hyper, unknown names): an
// entry carrying it never equals one of our shortcuts.
inline constexpr uint64_t kUnexpressibleModifier = 0x800000;

// One shortcut as a desktop writes it; `accelerator` is empty when disabled.
struct DesktopBinding {
    std::string accelerator;
    bool enabled() const { return !accelerator.empty(); }
};

// "<Primary><Shift>v" (GNOME) or "Ctrl+Shift+V" (KDE) as a key code and
// modifier word; absent for a key outside the key table.
std::optional<SystemShortcut> parseGnomeAccelerator(std::string_view accelerator);
std::optional<SystemShortcut> parseKdeShortcut(std::string_view shortcut);

// Every binding in `gsettings list-recursively` output / a kglobalshortcutsrc.
std::vector<DesktopBinding> parseGnomeListing(std::string_view listing);
std::vector<DesktopBinding> parseKdeConfig(std::string_view config);

// The enabled shortcuts we can express, read fresh; empty when unreadable.
std::vector<SystemShortcut> systemShortcuts(DesktopShortcutSource& source);
std::vector<SystemShortcut> systemShortcuts(const DesktopShortcutText& text);

// Counts the enabled shortcuts once for the log at start-up. Always empty:
// the dictation chord is modifier-only and cannot clash with them.
std::vector<Conflict> startupCount(DesktopShortcutSource& source);

}  // namespace HotkeyConflictScanner
}  // namespace velmarune
