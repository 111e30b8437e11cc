#include "keys/ModifierCombo.h"

#include <array>
#include <string_view>

#include "foundation/UserDefaults.h"

namespace velmarune {

namespace {
struct ModifierInfo {
    uint32_t bit;
    std::string_view symbol;
    std::string_view name;
};

// Display order: Control, Alt, Shift, Super, as Linux desktops write them.
constexpr std::array<ModifierInfo, 4> kDisplayOrder{{
    {kModifierControl, "Ctrl", "Control"},
    {kModifierOption, "Alt", "Alt"},
    {kModifierShift, "Shift", "Shift"},
    {kModifierCommand, "Super", "Super"},
}};
}  // namespace

std::optional<ModifierCombo> ModifierCombo::fromDefaults(const UserDefaults& defaults,
                                                         const std::string& key) {
    // doubleValue answers only for numbers (a bool or a string is not one);
    // integerValue then gives the exact integer of a large raw value.
    if (!defaults.doubleValue(key)) {
        return std::nullopt;
    }
    return fromFlags(static_cast<uint64_t>(defaults.integerValue(key).value_or(0)));
}

std::string ModifierCombo::symbols() const {
    std::string out;
    for (const auto& info : kDisplayOrder) {
        if (rawValue & info.bit) {
            if (!out.empty()) {
                out += '+';
            }
            out += info.symbol;
        }
    }
    return out.empty() ? "None" : out;
}

std::string ModifierCombo::spelledNames() const {
    std::string out;
    for (const auto& info : kDisplayOrder) {
        if (rawValue & info.bit) {
            if (!out.empty()) {
                out += " + ";
            }
            out += info.name;
        }
    }
    return out.empty() ? "None" : out;
}

}  // namespace velmarune
