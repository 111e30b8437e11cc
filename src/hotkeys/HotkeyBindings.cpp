#include "hotkeys/HotkeyBindings.h"

#include "foundation/UserDefaults.h"

namespace velmarune {

HotkeyBindings HotkeyBindings::load(const UserDefaults& defaults) {
    HotkeyBindings bindings;
    if (auto stored = ModifierCombo::fromDefaults(defaults, kPttBindingKey)) {
        bindings.pushToTalk = *stored;
    }
    return bindings;
}

void HotkeyBindings::save(UserDefaults& defaults, ModifierCombo pushToTalk) {
    defaults.setInteger(kPttBindingKey, static_cast<int64_t>(pushToTalk.rawValue));
}

}  // namespace velmarune
