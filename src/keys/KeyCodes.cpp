#include "keys/KeyCodes.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <vector>

#include "keys/ModifierCombo.h"

namespace velmarune {

namespace {
struct KeyInfo {
    uint16_t keyCode;
    std::string shown;
    uint32_t keysym;
    std::vector<std::string> aliases;  // lower-case spellings used by desktops
};

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

struct KeyTable {
    std::unordered_map<uint16_t, KeyInfo> byCode;
    std::unordered_map<std::string, uint16_t> byName;
    std::unordered_map<uint32_t, uint16_t> byKeysym;

    void add(uint16_t code, std::string shown, uint32_t keysym,
             std::vector<std::string> aliases = {}, bool named = true) {
        for (const auto& alias : aliases) byName.emplace(lowered(alias), code);
        byName.emplace(lowered(shown), code);
        byKeysym.emplace(keysym, code);
        if (named)
            byCode.emplace(code, KeyInfo{code, std::move(shown), keysym, std::move(aliases)});
    }

    KeyTable() {
        const std::pair<char, uint16_t> letters[] = {
            {'A', 0},  {'S', 1},  {'D', 2},  {'F', 3},  {'H', 4},  {'G', 5},  {'Z', 6},
            {'X', 7},  {'C', 8},  {'V', 9},  {'B', 11}, {'Q', 12}, {'W', 13}, {'E', 14},
            {'R', 15}, {'Y', 16}, {'T', 17}, {'O', 31}, {'U', 32}, {'I', 34}, {'P', 35},
            {'L', 37}, {'J', 38}, {'K', 40}, {'N', 45}, {'M', 46}};
        for (auto [letter, code] : letters) {
            add(code, std::string(1, letter), static_cast<uint32_t>(std::tolower(letter)));
        }
        const std::pair<char, uint16_t> digits[] = {{'1', 18}, {'2', 19}, {'3', 20}, {'4', 21},
                                                    {'6', 22}, {'5', 23}, {'9', 25}, {'7', 26},
                                                    {'8', 28}, {'0', 29}};
        for (auto [digit, code] : digits) {
            add(code, std::string(1, digit), static_cast<uint32_t>(digit));
        }
        struct Punct {
            char c;
            uint16_t code;
            const char* keysymName;
        };
        const Punct punctuation[] = {
            {'=', 24, "equal"},       {'-', 27, "minus"},       {']', 30, "bracketright"},
            {'[', 33, "bracketleft"}, {'\'', 39, "apostrophe"}, {';', 41, "semicolon"},
            {'\\', 42, "backslash"},  {',', 43, "comma"},       {'/', 44, "slash"},
            {'.', 47, "period"},      {'`', 50, "grave"}};
        for (const auto& p : punctuation) {
            add(p.code, std::string(1, p.c), static_cast<uint32_t>(p.c), {p.keysymName});
        }
        add(49, "Space", 0x20);
        add(36, "Return", 0xff0d, {"Enter"});
        add(48, "Tab", 0xff09);
        add(51, "Backspace", 0xff08, {"BackSpace"});
        add(kKeyCodeInsert, "Insert", 0xff63, {"Ins"});
        const uint16_t functionKeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                         103, 111, 105, 107, 113, 106, 64, 79,  80};
        for (uint32_t i = 0; i < 19; ++i) {
            add(functionKeys[i], "F" + std::to_string(i + 1), 0xffbe + i);
        }
        // Shifted symbols, keysym = their ASCII code, and the keys they sit on.
        const std::pair<char, char> shifted[] = {
            {'!', '1'}, {'@', '2'},  {'#', '3'}, {'$', '4'}, {'%', '5'}, {'^', '6'}, {'&', '7'},
            {'*', '8'}, {'(', '9'},  {')', '0'}, {'_', '-'}, {'+', '='}, {'{', '['}, {'}', ']'},
            {':', ';'}, {'"', '\''}, {'<', ','}, {'>', '.'}, {'?', '/'}, {'~', '`'}, {'|', '\\'}};
        for (auto [symbol, base] : shifted) {
            byKeysym.emplace(static_cast<uint32_t>(symbol),
                             byKeysym.at(static_cast<uint32_t>(base)));
        }
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            byKeysym.emplace(static_cast<uint32_t>(letter),
                             byKeysym.at(static_cast<uint32_t>(std::tolower(letter))));
        }
        byKeysym.emplace(0xfe20, 48);  // ISO_Left_Tab: Shift+Tab
        byKeysym.emplace(0xff8d, 36);  // KP_Enter
        // Escape is not shown by name but is recorded (it cancels recording).
        add(kKeyCodeEscape, "Escape", 0xff1b, {"Esc"}, false);
        escapeKeysym = 0xff1b;
    }
    uint32_t escapeKeysym = 0;
};

const KeyTable& table() {
    static const KeyTable instance;  // built once, on first use
    return instance;
}
}  // namespace

std::string keyName(uint16_t keyCode) {
    const auto& t = table();
    auto it = t.byCode.find(keyCode);
    return it == t.byCode.end() ? "Key " + std::to_string(keyCode) : it->second.shown;
}

std::optional<uint32_t> keysymForKeyCode(uint16_t keyCode) {
    const auto& t = table();
    if (keyCode == kKeyCodeEscape)
        return t.escapeKeysym;
    auto it = t.byCode.find(keyCode);
    if (it == t.byCode.end())
        return std::nullopt;
    return it->second.keysym;
}

std::optional<std::string> keysymName(uint16_t keyCode) {
    const auto& t = table();
    auto it = t.byCode.find(keyCode);
    if (it == t.byCode.end())
        return std::nullopt;
    const KeyInfo& key = it->second;
    if (key.shown.size() == 1) {
        // Letters by their lower-case keysym, digits as they are,
        // punctuation by name.
        const unsigned char c = static_cast<unsigned char>(key.shown[0]);
        if (std::isalnum(c))
            return std::string(1, static_cast<char>(std::tolower(c)));
        return key.aliases.empty() ? std::nullopt : std::optional(key.aliases.front());
    }
    if (key.shown == "Space")
        return "space";
    if (key.shown == "Backspace")
        return "BackSpace";
    return key.shown;  // Return, Tab, Insert, F1...F19
}

std::optional<uint16_t> keyCodeForKeysym(uint32_t keysym) {
    const auto& t = table();
    auto it = t.byKeysym.find(keysym);
    if (it == t.byKeysym.end())
        return std::nullopt;
    return it->second;
}

uint64_t modifierBitForKeysym(uint32_t keysym) {
    switch (keysym) {
        case 0xffe1:  // Shift_L
        case 0xffe2:  // Shift_R
            return kModifierShift;
        case 0xffe3:  // Control_L
        case 0xffe4:  // Control_R
            return kModifierControl;
        case 0xffe7:  // Meta_L (Shift+Alt on many layouts)
        case 0xffe8:
        case 0xffe9:  // Alt_L
        case 0xffea:  // Alt_R
            return kModifierOption;
        case 0xffeb:  // Super_L
        case 0xffec:  // Super_R
            return kModifierCommand;
        default:
            return 0;
    }
}

std::optional<uint16_t> keyCodeForKeyName(std::string_view name) {
    const auto& t = table();
    auto it = t.byName.find(lowered(name));
    if (it == t.byName.end())
        return std::nullopt;
    return it->second;
}

}  // namespace velmarune
