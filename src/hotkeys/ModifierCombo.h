#pragma once

#include <cstdint>

namespace velmarune {

// Modifier bits in the stored layout (Option = Alt, Command = Super on Linux).
inline constexpr uint32_t kModifierShift = 0x20000;
inline constexpr uint32_t kModifierControl = 0x40000;
inline constexpr uint32_t kModifierOption = 0x80000;
inline constexpr uint32_t kModifierCommand = 0x100000;
inline constexpr uint32_t kModifierMask = 0x1E0000;

// A set of modifier keys.
struct ModifierCombo {
    uint32_t rawValue = 0;

    static ModifierCombo fromFlags(uint64_t flags) {
        return ModifierCombo{static_cast<uint32_t>(flags & kModifierMask)};
    }
    bool operator==(const ModifierCombo&) const = default;
};

}  // namespace velmarune
