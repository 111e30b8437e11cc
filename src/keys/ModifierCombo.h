#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace velmarune {

class UserDefaults;

// Modifier bits in the stored event-flag layout (Option = Alt, Command = Super
// on Linux). Backends translate to and from their own modifier masks.
inline constexpr uint32_t kModifierShift = 0x20000;
inline constexpr uint32_t kModifierControl = 0x40000;
inline constexpr uint32_t kModifierOption = 0x80000;
inline constexpr uint32_t kModifierCommand = 0x100000;
inline constexpr uint32_t kModifierMask = 0x1E0000;

// A set of modifier keys. Only the four modifier bits are ever taken from
// outside: everything read from settings or events goes through fromFlags.
struct ModifierCombo {
    uint64_t rawValue = 0;

    static ModifierCombo fromFlags(uint64_t flags) { return ModifierCombo{flags & kModifierMask}; }
    // The key read as a number and masked; absent when missing or not a number.
    static std::optional<ModifierCombo> fromDefaults(const UserDefaults& defaults,
                                                     const std::string& key);

    bool empty() const { return rawValue == 0; }
    bool contains(uint64_t bits) const { return (rawValue & bits) == bits; }

    // "Ctrl+Alt+Shift+Super" order; "None" when empty.
    std::string symbols() const;
    // "Control + Alt + Shift + Super" order; "None" when empty.
    std::string spelledNames() const;

    bool operator==(const ModifierCombo&) const = default;
};

}  // namespace velmarune

template <>
struct std::hash<velmarune::ModifierCombo> {
    size_t operator()(const velmarune::ModifierCombo& combo) const noexcept {
        return std::hash<uint64_t>{}(combo.rawValue);
    }
};
