#pragma once

#include <cstdint>

namespace velmarune {

// A shortcut the desktop itself uses: a virtual key code and a modifier word
// in the event-flag layout (bits outside the four modifiers mean keys we
// cannot express, so such an entry never equals one of our shortcuts).
struct SystemShortcut {
    // Whose shortcut it is, so a warning can say where to change it.
    enum class Desktop { unknown, gnome, kde };

    int64_t keyCode = 0;
    uint64_t modifiers = 0;
    Desktop desktop = Desktop::unknown;

    bool operator==(const SystemShortcut&) const = default;
};

}  // namespace velmarune
