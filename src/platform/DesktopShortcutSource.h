#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmarune {

// The desktop's own keyboard shortcuts as it stores them, unparsed.
struct DesktopShortcutText {
    // `gsettings list-recursively <schema>` output, one per keybinding schema
    // that could be read ("schema key value" lines).
    std::vector<std::string> gnomeListings;
    // The contents of KDE's kglobalshortcutsrc, when it exists.
    std::optional<std::string> kdeConfig;
};

// Reads the desktop's shortcut settings. Called on a worker thread, never the
// main one: a read may run short-lived helper programs, each bounded by a
// timeout.
class DesktopShortcutSource {
  public:
    virtual ~DesktopShortcutSource() = default;
    // Absent when no desktop shortcut settings can be read.
    virtual std::optional<DesktopShortcutText> read() = 0;
};

}  // namespace velmarune
