#include "hotkeys/HotkeyConflictScanner.h"

#include <algorithm>
#include <cctype>

#include "foundation/Log.h"
#include "keys/KeyCodes.h"
#include "keys/ModifierCombo.h"
#include "platform/DesktopShortcutSource.h"

namespace velmarune::HotkeyConflictScanner {

namespace {
const Logger kLog{"HotkeyConflictScanner"};

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// GNOME spells Super as Command's counterpart and treats Meta as Alt; KDE's
// Meta is the Super key.
uint64_t gnomeModifier(const std::string& name) {
    if (name == "primary" || name == "control" || name == "ctrl" || name == "ctl")
        return kModifierControl;
    if (name == "shift" || name == "shft")
        return kModifierShift;
    if (name == "alt" || name == "mod1" || name == "meta")
        return kModifierOption;
    if (name == "super" || name == "mod4")
        return kModifierCommand;
    return kUnexpressibleModifier;
}

uint64_t kdeModifier(const std::string& name) {
    if (name == "ctrl" || name == "control")
        return kModifierControl;
    if (name == "shift")
        return kModifierShift;
    if (name == "alt")
        return kModifierOption;
    if (name == "meta" || name == "super")
        return kModifierCommand;
    return kUnexpressibleModifier;
}

std::optional<SystemShortcut> shortcutFor(std::string_view key, uint64_t modifiers) {
    auto code = keyCodeForKeyName(trimmed(key));
    if (!code)
        return std::nullopt;
    return SystemShortcut{*code, modifiers};
}

// The quoted strings of a GVariant value: "['a', 'b']", "'a'" or "@as []".
std::vector<std::string> quotedStrings(std::string_view value) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < value.size()) {
        const char quote = value[i];
        if (quote != '\'' && quote != '"') {
            ++i;
            continue;
        }
        std::string item;
        for (++i; i < value.size() && value[i] != quote; ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            item += value[i];
        }
        ++i;
        out.push_back(std::move(item));
    }
    return out;
}
// "<Super>l", "AudioMute": modifiers in angle brackets and a keysym name.
// Paths and other strings some keybinding schemas hold are not bindings.
bool looksLikeAccelerator(const std::string& item) {
    return std::all_of(item.begin(), item.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '_' || c == '<' || c == '>';
    });
}
}  // namespace

std::optional<SystemShortcut> parseGnomeAccelerator(std::string_view accelerator) {
    uint64_t modifiers = 0;
    std::string_view rest = trimmed(accelerator);
    while (!rest.empty() && rest.front() == '<') {
        const size_t close = rest.find('>');
        if (close == std::string_view::npos)
            return std::nullopt;
        modifiers |= gnomeModifier(lowered(rest.substr(1, close - 1)));
        rest.remove_prefix(close + 1);
    }
    if (rest.empty())
        return std::nullopt;
    return shortcutFor(rest, modifiers);
}

std::optional<SystemShortcut> parseKdeShortcut(std::string_view shortcut) {
    shortcut = trimmed(shortcut);
    uint64_t modifiers = 0;
    // The last part is the key; "+" itself is spelled as a trailing "+".
    while (true) {
        const size_t plus = shortcut.find('+');
        if (plus == std::string_view::npos || plus + 1 >= shortcut.size())
            break;
        modifiers |= kdeModifier(lowered(trimmed(shortcut.substr(0, plus))));
        shortcut.remove_prefix(plus + 1);
    }
    if (shortcut.empty())
        return std::nullopt;
    return shortcutFor(shortcut, modifiers);
}

std::vector<DesktopBinding> parseGnomeListing(std::string_view listing) {
    std::vector<DesktopBinding> out;
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string_view::npos)
            end = listing.size();
        std::string_view line = listing.substr(start, end - start);
        start = end + 1;
        // "schema key value": the value is what follows the second space.
        const size_t first = line.find(' ');
        const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
        if (second == std::string_view::npos)
            continue;
        std::string_view value = trimmed(line.substr(second + 1));
        if (value.starts_with("@as"))
            value.remove_prefix(3);
        value = trimmed(value);
        if (value.empty() || (value.front() != '[' && value.front() != '\''))
            continue;
        const auto items = quotedStrings(value);
        if (items.empty()) {
            out.push_back(DesktopBinding{});  // an empty list: the binding is off
            continue;
        }
        for (const auto& item : items) {
            // Values that are not accelerators (paths, names) are not bindings.
            if (item.empty() || item == "disabled") {
                out.push_back(DesktopBinding{});
            } else if (looksLikeAccelerator(item)) {
                out.push_back(DesktopBinding{item});
            }
        }
    }
    return out;
}

std::vector<DesktopBinding> parseKdeConfig(std::string_view config) {
    std::vector<DesktopBinding> out;
    size_t start = 0;
    while (start < config.size()) {
        size_t end = config.find('\n', start);
        if (end == std::string_view::npos)
            end = config.size();
        std::string_view line = trimmed(config.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '[' || line.front() == '#')
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || line.starts_with("_k_"))
            continue;
        // "name=active,default,description"; the active field may list
        // several shortcuts separated by an escaped tab.
        std::string_view active = line.substr(equals + 1);
        active = active.substr(0, active.find(','));
        if (trimmed(active).empty() || lowered(trimmed(active)) == "none") {
            out.push_back(DesktopBinding{});
            continue;
        }
        size_t from = 0;
        while (from <= active.size()) {
            size_t tab = active.find("\\t", from);
            if (tab == std::string_view::npos)
                tab = active.size();
            std::string_view one = trimmed(active.substr(from, tab - from));
            if (!one.empty())
                out.push_back(DesktopBinding{std::string(one)});
            from = tab + 2;
        }
    }
    return out;
}

std::vector<SystemShortcut> systemShortcuts(const DesktopShortcutText& text) {
    std::vector<SystemShortcut> out;
    for (const auto& listing : text.gnomeListings) {
        for (const auto& binding : parseGnomeListing(listing)) {
            if (!binding.enabled())
                continue;
            if (auto shortcut = parseGnomeAccelerator(binding.accelerator)) {
                shortcut->desktop = SystemShortcut::Desktop::gnome;
                out.push_back(*shortcut);
            }
        }
    }
    if (text.kdeConfig) {
        for (const auto& binding : parseKdeConfig(*text.kdeConfig)) {
            if (!binding.enabled())
                continue;
            if (auto shortcut = parseKdeShortcut(binding.accelerator)) {
                shortcut->desktop = SystemShortcut::Desktop::kde;
                out.push_back(*shortcut);
            }
        }
    }
    return out;
}

std::vector<SystemShortcut> systemShortcuts(DesktopShortcutSource& source) {
    auto text = source.read();
    return text ? systemShortcuts(*text) : std::vector<SystemShortcut>{};
}

std::vector<Conflict> startupCount(DesktopShortcutSource& source) {
    auto text = source.read();
    if (!text) {
        kLog.debug("desktop keyboard shortcuts not readable; 0 conflicts");
        return {};
    }
    int64_t enabled = 0;
    for (const auto& listing : text->gnomeListings) {
        for (const auto& binding : parseGnomeListing(listing)) enabled += binding.enabled();
    }
    if (text->kdeConfig) {
        for (const auto& binding : parseKdeConfig(*text->kdeConfig)) enabled += binding.enabled();
    }
    kLog.info("Scanned %{public}ld enabled system hotkeys; 0 modifier-only matches", enabled);
    return {};
}

}  // namespace velmarune::HotkeyConflictScanner
