#pragma once

#include "keys/ModifierCombo.h"

namespace velmarune {

class UserDefaults;

inline constexpr const char* kPttBindingKey = "pttBinding";

// The push-to-talk chord. Default Ctrl+Shift.
struct HotkeyBindings {
    ModifierCombo pushToTalk{kModifierControl | kModifierShift};

    // "pttBinding" masked to the four modifiers; missing or not a number: Ctrl+Shift.
    // A masked 0 stays the empty combo.
    static HotkeyBindings load(const UserDefaults& defaults);
    // Writes the raw number. Restarting the listener is the caller's business
    // (AppState::reloadHotkeys).
    static void save(UserDefaults& defaults, ModifierCombo pushToTalk);

    bool operator==(const HotkeyBindings&) const = default;
};

}  // namespace velmarune
