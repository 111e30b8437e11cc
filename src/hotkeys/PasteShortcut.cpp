#include "hotkeys/PasteShortcut.h"

#include <limits>
#include <nlohmann/json.hpp>

#include "foundation/UserDefaults.h"
#include "keys/KeyCodes.h"

namespace velmarune {

std::string PasteShortcut::display() const {
    // An empty modifier set shows no "None" prefix: the key stands alone.
    return (modifiers.empty() ? std::string() : modifiers.symbols() + "+") + keyName(keyCode);
}

std::optional<PasteShortcut> PasteShortcut::load(const UserDefaults& defaults) {
    if (auto text = defaults.stringValue(kPasteLastShortcutKey)) {
        if (*text == "none") {
            return std::nullopt;
        }
        return PasteShortcut{};
    }
    auto dictionary = defaults.dictionaryValue(kPasteLastShortcutKey);
    if (!dictionary) {
        return PasteShortcut{};
    }
    auto keyCode = dictionary->find("keyCode");
    auto modifiers = dictionary->find("modifiers");
    if (keyCode == dictionary->end() || modifiers == dictionary->end() || !keyCode->is_number() ||
        !modifiers->is_number()) {
        return PasteShortcut{};
    }
    // A key code outside 16 bits cannot name a key: the setting is malformed.
    const double code = keyCode->get<double>();
    if (code < 0 || code > std::numeric_limits<uint16_t>::max()) {
        return PasteShortcut{};
    }
    const uint64_t raw = modifiers->is_number_unsigned() ? modifiers->get<uint64_t>()
                         : modifiers->is_number_integer()
                             ? static_cast<uint64_t>(modifiers->get<int64_t>())
                             : static_cast<uint64_t>(modifiers->get<double>());
    return PasteShortcut{static_cast<uint16_t>(code), ModifierCombo::fromFlags(raw)};
}

void PasteShortcut::save(UserDefaults& defaults, const std::optional<PasteShortcut>& shortcut) {
    if (shortcut) {
        defaults.setDictionary(kPasteLastShortcutKey,
                               nlohmann::json{{"keyCode", shortcut->keyCode},
                                              {"modifiers", shortcut->modifiers.rawValue}});
    } else {
        defaults.setString(kPasteLastShortcutKey, "none");
    }
}

}  // namespace velmarune
