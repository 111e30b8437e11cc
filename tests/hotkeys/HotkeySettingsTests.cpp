#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "foundation/UserDefaults.h"
#include "hotkeys/HotkeyBindings.h"
#include "hotkeys/HotkeyRecording.h"
#include "hotkeys/PasteShortcut.h"
#include "hotkeys/PasteShortcutCheck.h"
#include "keys/KeyCodes.h"

namespace velmarune {
namespace {

using json = nlohmann::json;
using Kind = PasteShortcutVerdict::Kind;

constexpr uint64_t kCtrl = kModifierControl;
constexpr uint64_t kShift = kModifierShift;
constexpr uint64_t kCmd = kModifierCommand;
constexpr uint64_t kOpt = kModifierOption;

TEST(ModifierCombo, SymbolsAndNamesFollowTheFixedOrderAndUnknownKeysGetNumbers) {
    struct Case {
        uint64_t raw;
        const char* symbols;
        const char* names;
    };
    const Case cases[] = {
        {0, "None", "None"},
        {kShift | kCtrl, "Ctrl+Shift", "Control + Shift"},
        {kModifierMask, "Ctrl+Alt+Shift+Super", "Control + Alt + Shift + Super"},
        {kCmd | kOpt, "Alt+Super", "Alt + Super"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ModifierCombo{c.raw}.symbols(), c.symbols);
        EXPECT_EQ(ModifierCombo{c.raw}.spelledNames(), c.names);
    }
    // Key codes outside the table get a number, and no keysym to type.
    EXPECT_EQ(keyName(200), "Key 200");
    EXPECT_EQ(keysymForKeyCode(200), std::nullopt);
}

TEST(HotkeyBindings, ReadsMaskedNumbersAndFallsBackOtherwise) {
    MemoryUserDefaults defaults;
    EXPECT_EQ(HotkeyBindings::load(defaults).pushToTalk.rawValue, 0x60000u);
    defaults.setString("pttBinding", "ctrl");
    EXPECT_EQ(HotkeyBindings::load(defaults).pushToTalk.rawValue, 0x60000u);
    defaults.setInteger("pttBinding", 0x10000 | kCmd | 0x5);
    EXPECT_EQ(HotkeyBindings::load(defaults).pushToTalk.rawValue, kCmd);
    defaults.setInteger("pttBinding", 0x10000);  // masks to empty: stays empty
    EXPECT_TRUE(HotkeyBindings::load(defaults).pushToTalk.empty());

    HotkeyBindings::save(defaults, ModifierCombo{kCtrl | kOpt});
    EXPECT_EQ(defaults.integerValue("pttBinding"), static_cast<int64_t>(kCtrl | kOpt));
}

TEST(PasteShortcut, ReadsTheStoredFormWithFallbacks) {
    const PasteShortcut standard{};
    struct Case {
        const char* name;
        json stored;
        std::optional<PasteShortcut> expected;
    };
    const Case cases[] = {
        {"none", "none", std::nullopt},
        {"other string", "off", standard},
        {"missing modifiers", json{{"keyCode", 9}}, standard},
        {"non-number key", json{{"keyCode", "P"}, {"modifiers", kCtrl}}, standard},
        {"key code beyond 16 bits", json{{"keyCode", 70000}, {"modifiers", kCtrl}}, standard},
        {"caps lock dropped", json{{"keyCode", 35}, {"modifiers", 0x10000 | kModifierMask}},
         PasteShortcut{35, ModifierCombo{kModifierMask}}},
        {"plain", json{{"keyCode", 122}, {"modifiers", kCtrl | kOpt}},
         PasteShortcut{122, ModifierCombo{kCtrl | kOpt}}},
        {"a number", 5, standard},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryUserDefaults defaults;
        if (c.stored.is_object()) {
            defaults.setDictionary("pasteLastShortcut", c.stored);
        } else if (c.stored.is_string()) {
            defaults.setString("pasteLastShortcut", c.stored.get<std::string>());
        } else {
            defaults.setInteger("pasteLastShortcut", c.stored.get<int64_t>());
        }
        EXPECT_EQ(PasteShortcut::load(defaults), c.expected);
    }
    MemoryUserDefaults defaults;
    EXPECT_EQ(PasteShortcut::load(defaults), standard);
    const PasteShortcut f5{96, ModifierCombo{kCtrl | kOpt}};
    PasteShortcut::save(defaults, f5);
    EXPECT_EQ(PasteShortcut::load(defaults), f5);
    PasteShortcut::save(defaults, std::nullopt);
    EXPECT_EQ(defaults.stringValue("pasteLastShortcut"), "none");
}

TEST(PasteShortcutCheck, FirstMatchingRuleDecides) {
    const ModifierCombo dictation{kCtrl | kShift};
    const std::vector<SystemShortcut> system{
        {35, kCtrl | kOpt | 0x108},     // device bits ignored
        {17, kCtrl | kCmd | 0x800000},  // another bit: never matches
        {9, kCtrl | kShift | kCmd},
        {5, kCtrl | kCmd, SystemShortcut::Desktop::gnome},
        {11, kCtrl | kCmd, SystemShortcut::Desktop::kde},
    };
    struct Case {
        uint16_t key;
        uint64_t mods;
        std::vector<SystemShortcut> system;
        Kind kind;
        std::string message;
    };
    const std::string different = "Choose a different combination.";
    const std::string typesACharacter =
        "Include Ctrl or Super, so the shortcut can't type a character.";
    const auto pasteOrCopy = [&](const char* chord, const char* what) {
        return std::string(chord) + " is " + what + " itself. " + different;
    };
    const Case cases[] = {
        // The desktop's paste and copy chords, before every other rule.
        {9, kCtrl, system, Kind::refused, pasteOrCopy("Ctrl+V", "Paste")},
        {9, kCtrl | kShift, {}, Kind::refused, pasteOrCopy("Ctrl+Shift+V", "Paste in terminals")},
        {kKeyCodeInsert, kShift, {}, Kind::refused, pasteOrCopy("Shift+Insert", "Paste")},
        {8, kCtrl, {}, Kind::refused, pasteOrCopy("Ctrl+C", "Copy")},
        {8, kCtrl | kShift, {}, Kind::refused, pasteOrCopy("Ctrl+Shift+C", "Copy in terminals")},
        {kKeyCodeInsert, kCtrl, {}, Kind::refused, pasteOrCopy("Ctrl+Insert", "Copy")},
        {9, kShift | kOpt, {}, Kind::refused, typesACharacter},
        {kKeyCodeInsert, kShift | kOpt, {}, Kind::refused, typesACharacter},
        {35, kCtrl | kShift, {}, Kind::refused, "That's your dictation hotkey. " + different},
        {9,
         kCtrl | kOpt | kShift,
         {},
         Kind::warning,
         "Ctrl+Alt+Shift+V replaces \"Paste Unformatted Text\" in LibreOffice and other apps."},
        // Near the reserved chords but not one of them.
        {9, kCmd, {}, Kind::accepted, ""},
        {9, kCtrl | kOpt, {}, Kind::accepted, ""},
        {kKeyCodeInsert, kCtrl | kOpt, {}, Kind::accepted, ""},
        {9, kCtrl | kShift | kCmd, {}, Kind::accepted, ""},
        {9, kCtrl | kShift | kCmd, system, Kind::warning,
         "Ctrl+Shift+Super+V is also a shortcut of your desktop (see its keyboard shortcut "
         "settings)."},
        {35, kCtrl | kOpt, system, Kind::warning,
         "Ctrl+Alt+P is also a shortcut of your desktop (see its keyboard shortcut settings)."},
        {17, kCtrl | kCmd, system, Kind::accepted, ""},
        // The warning says whose shortcut it is and where that desktop changes it.
        {5, kCtrl | kCmd, system, Kind::warning,
         "Ctrl+Super+G is also a GNOME shortcut. To free it, open Settings > Keyboard > View "
         "and Customize Shortcuts."},
        {11, kCtrl | kCmd, system, Kind::warning,
         "Ctrl+Super+B is also a KDE Plasma shortcut. To free it, open System Settings > "
         "Shortcuts."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((PasteShortcut{c.key, ModifierCombo{c.mods}}.display()));
        auto verdict = checkPasteShortcut(c.key, ModifierCombo{c.mods}, dictation, c.system);
        EXPECT_EQ(verdict.kind, c.kind);
        EXPECT_EQ(verdict.message, c.message);
    }
}

TEST(HotkeyRecording, ChordIsTheFullestHeldSetAndCommitsOnFullRelease) {
    ComboRecorder recorder;
    recorder.flagsChanged(kCtrl);
    recorder.flagsChanged(kCtrl | kOpt | 0x10000);
    recorder.flagsChanged(kOpt);  // keys come up one by one: the chord stays
    EXPECT_EQ(recorder.status(), ComboRecorder::Status::recording);
    recorder.flagsChanged(0);
    EXPECT_EQ(recorder.status(), ComboRecorder::Status::finished);
    EXPECT_EQ(recorder.candidate(), ModifierCombo{kCtrl | kOpt});

    ComboRecorder changedMind;
    changedMind.flagsChanged(kCtrl);
    changedMind.flagsChanged(kCtrl | kOpt);
    changedMind.flagsChanged(kOpt);           // Control let go early...
    changedMind.flagsChanged(kOpt | kShift);  // ...and another press: it drops out
    changedMind.flagsChanged(0);
    EXPECT_EQ(changedMind.candidate(), ModifierCombo{kOpt | kShift});

    // Escape alone cancels a shortcut recording (HotkeysTabModel's table); with
    // a modifier it is a shortcut.
    EXPECT_EQ(recordedPasteShortcut(kKeyCodeEscape, kCtrl | 0x10000),
              (PasteShortcut{kKeyCodeEscape, ModifierCombo{kCtrl}}));
}

}  // namespace
}  // namespace velmarune
