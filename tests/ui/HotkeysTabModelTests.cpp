#include <gtest/gtest.h>

#include "app/AppState.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/HotkeyBindings.h"
#include "ui/HotkeysTabModel.h"

namespace velmarune {
namespace {

using Recording = HotkeysTabModel::Recording;

// Keysyms and the physical keys (X key codes) they sit on.
struct Key {
    uint32_t keysym;
    uint32_t scanCode;
};
constexpr Key kCtrlL{0xffe3, 37}, kCtrlR{0xffe4, 105}, kShiftL{0xffe1, 50}, kAltL{0xffe9, 64},
    kSuperL{0xffeb, 133}, kEscape{0xff1b, 9};
Key letter(char c) {
    return {static_cast<uint32_t>(c), 0};
}

constexpr uint64_t kCtrl = kModifierControl, kShift = kModifierShift, kAlt = kModifierOption,
                   kSuper = kModifierCommand;

struct TabRig {
    ManualMainQueue queue;
    ManualExecutor scanner;
    MemoryUserDefaults defaults;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    std::vector<SystemShortcut> desktop;
    std::vector<std::string> calls;
    bool grabsSucceed = true;  // what the X server answers a hot-key grab
    HotkeysTabModel model{{defaults, queue, scanner, [this] { return desktop; }, state}};

    TabRig() {
        state->reloadHotkeys = [this] { calls.push_back("reloadHotkeys"); };
        state->suspendHotkeys = [this](bool on) {
            calls.push_back(on ? "suspendPTT" : "resumePTT");
        };
        state->suspendPasteShortcut = [this](bool on) {
            calls.push_back(on ? "suspendPaste" : "resumePaste");
        };
        state->reloadPasteShortcut = [this] {
            calls.push_back("reloadPaste");
            return grabsSucceed || !PasteShortcut::load(defaults);
        };
    }
    void press(Key k) { model.keyEvent(k.keysym, k.scanCode, true); }
    void release(Key k) { model.keyEvent(k.keysym, k.scanCode, false); }
    // The desktop's shortcut list arrives from the scanner thread.
    void finishScan() {
        scanner.runAll();
        queue.runPending();
    }
    // Presses the modifiers, then the key, with the desktop list already read.
    void recordPaste(std::vector<Key> modifiers, Key key) {
        model.startRecording(Recording::paste, true);
        finishScan();
        for (Key m : modifiers) press(m);
        press(key);
    }
};

TEST(HotkeysTabModel, RecordedPasteShortcutsAreStoredWarnedAboutOrRefused) {
    const PasteShortcut standard;
    struct Case {
        std::vector<Key> modifiers;
        Key key;
        std::optional<PasteShortcut> stored;  // what the setting holds afterwards
        std::string message;                  // refusal under the section
        std::string warning;                  // asks "Save Anyway"
    };
    const std::vector<Case> cases{
        // Right Ctrl counts as Ctrl; Shift makes the letter's keysym upper case.
        {{kCtrlR, kShiftL, kSuperL},
         letter('B'),
         PasteShortcut{11, ModifierCombo{kCtrl | kShift | kSuper}},
         "",
         ""},
        {{kShiftL, kSuperL},
         letter('!'),
         PasteShortcut{18, ModifierCombo{kShift | kSuper}},
         "",
         ""},
        {{kCtrlL},
         letter('v'),
         standard,
         "Ctrl+V is Paste itself. Choose a different combination.",
         ""},
        {{kCtrlL, kShiftL},
         letter('P'),
         standard,
         "That's your dictation hotkey. Choose a different combination.",
         ""},
        {{kShiftL},
         letter('!'),
         standard,
         "Include Ctrl or Super, so the shortcut can't type a character.",
         ""},
        {{kCtrlL, kAltL, kShiftL},
         letter('V'),
         standard,
         "",
         "Ctrl+Alt+Shift+V replaces \"Paste Unformatted Text\" in LibreOffice and other apps."},
        {{kCtrlL, kSuperL},
         letter('g'),
         standard,
         "",
         "Ctrl+Super+G is also a GNOME shortcut. To free it, open Settings > Keyboard > View and "
         "Customize Shortcuts."},
        {{kCtrlL},
         {0x1008ff12, 121},
         standard,  // a media key outside the key table
         "That key can't be used for the shortcut. Choose a letter, a digit, a function key or a "
         "punctuation key.",
         ""},
        {{}, kEscape, standard, "", ""},  // Escape alone cancels
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        TabRig rig;
        rig.desktop = {{5, kCtrl | kSuper, SystemShortcut::Desktop::gnome}};
        rig.recordPaste(c.modifiers, c.key);
        EXPECT_EQ(rig.model.recording(), Recording::none);
        EXPECT_EQ(PasteShortcut::load(rig.defaults), c.stored);
        EXPECT_EQ(rig.model.pasteMessage().value_or(""), c.message);
        EXPECT_EQ(rig.model.pendingWarning() ? rig.model.pendingWarning()->message : "", c.warning);
        // The hot key is suspended while recording and registered again after.
        ASSERT_GE(rig.calls.size(), 2u);
        EXPECT_EQ(rig.calls[0], "suspendPaste");
        EXPECT_EQ(rig.calls[1], "resumePaste");
        const bool changed = c.stored != standard;
        EXPECT_EQ(rig.calls.size(), changed ? 3u : 2u);
    }
}

TEST(HotkeysTabModel, AWarnedShortcutIsStoredOnlyOnSaveAnyway) {
    TabRig rig;
    rig.recordPaste({kCtrlL, kAltL, kShiftL}, letter('V'));
    rig.model.dismissWarning();
    EXPECT_EQ(PasteShortcut::load(rig.defaults), PasteShortcut{});

    rig.recordPaste({kCtrlL, kAltL, kShiftL}, letter('V'));
    rig.model.saveAnyway();
    EXPECT_EQ(PasteShortcut::load(rig.defaults),
              (PasteShortcut{9, ModifierCombo{kCtrl | kAlt | kShift}}));
    EXPECT_EQ(rig.calls.back(), "reloadPaste");
    EXPECT_EQ(rig.model.pasteText(), "Ctrl+Alt+Shift+V");
}

TEST(HotkeysTabModel, AKeyPressedBeforeTheDesktopListIsReadWaitsForIt) {
    TabRig rig;
    rig.desktop = {{11, kCtrl | kSuper, SystemShortcut::Desktop::kde}};
    rig.model.startRecording(Recording::paste, true);
    rig.press(kCtrlL);
    EXPECT_EQ(rig.model.pasteText(), "Ctrl+…");
    rig.press(kSuperL);
    rig.press(letter('b'));
    EXPECT_EQ(rig.model.pasteHint(), "Checking your desktop's shortcuts…");
    EXPECT_EQ(rig.model.recording(), Recording::paste);
    rig.finishScan();
    ASSERT_TRUE(rig.model.pendingWarning());
    EXPECT_EQ(rig.model.pendingWarning()->message,
              "Ctrl+Super+B is also a KDE Plasma shortcut. To free it, open System Settings > "
              "Shortcuts.");
}

TEST(HotkeysTabModel, AShortcutTheDisplayRefusesKeepsThePreviousOne) {
    TabRig rig;
    PasteShortcut::save(rig.defaults, PasteShortcut{35, ModifierCombo{kCtrl | kAlt}});
    rig.grabsSucceed = false;
    rig.recordPaste({kCtrlL, kSuperL}, letter('k'));
    EXPECT_EQ(rig.model.pasteMessage(),
              "Ctrl+Super+K is already taken by another application. Your shortcut stays "
              "Ctrl+Alt+P.");
    EXPECT_EQ(PasteShortcut::load(rig.defaults), (PasteShortcut{35, ModifierCombo{kCtrl | kAlt}}));
    EXPECT_EQ(rig.calls.back(), "reloadPaste");  // the previous one registered again

    rig.model.turnPasteShortcutOff();  // off needs no grab
    EXPECT_EQ(PasteShortcut::load(rig.defaults), std::nullopt);
    EXPECT_EQ(rig.model.pasteText(), "None");
    rig.model.resetPasteShortcut();
    EXPECT_EQ(rig.model.pasteMessage(),
              "Ctrl+Shift+Super+V is already taken by another application. Paste Last Dictation "
              "stays off.");
}

TEST(HotkeysTabModel, ChordIsRecordedFromLeftAndRightModifiers) {
    TabRig rig;
    rig.model.startRecording(Recording::dictation, true);
    EXPECT_EQ(rig.model.dictationText(), "Press modifiers…");
    EXPECT_EQ(rig.model.dictationHint(), "Release modifiers to set. Press Escape to cancel.");
    rig.press(kCtrlL);
    rig.press(kAltL);
    rig.press(kCtrlR);
    rig.release(kCtrlL);  // Control is still held on the right
    EXPECT_EQ(rig.model.dictationText(), "Control + Alt");
    rig.press(letter('x'));  // other keys do not count
    rig.release(kAltL);
    rig.release(kCtrlR);
    EXPECT_EQ(rig.model.recording(), Recording::none);
    EXPECT_EQ(HotkeyBindings::load(rig.defaults).pushToTalk, ModifierCombo{kCtrl | kAlt});
    EXPECT_EQ(rig.calls, (std::vector<std::string>{"suspendPTT", "resumePTT", "reloadHotkeys"}));
    EXPECT_EQ(rig.model.dictationText(), "Control + Alt");

    rig.model.resetDictationCombo();
    EXPECT_EQ(HotkeyBindings::load(rig.defaults).pushToTalk, ModifierCombo{kCtrl | kShift});
}

TEST(HotkeysTabModel, ChordRecordingCanBeCancelledRefusedOrPrevented) {
    TabRig rig;
    PasteShortcut::save(rig.defaults, PasteShortcut{35, ModifierCombo{kCtrl | kAlt}});

    rig.model.startRecording(Recording::dictation, true);
    rig.press(kSuperL);
    rig.press(kEscape);
    EXPECT_EQ(rig.model.recording(), Recording::none);

    rig.model.startRecording(Recording::dictation, true);
    rig.press(kCtrlL);
    rig.press(kAltL);
    rig.release(kAltL);
    rig.release(kCtrlL);
    EXPECT_EQ(rig.model.dictationMessage(),
              "These are the modifiers of Paste Last Dictation (Ctrl+Alt+P). Choose a different "
              "combination.");

    // Another application holds the keyboard: nothing is recorded or suspended.
    rig.calls.clear();
    rig.model.startRecording(Recording::dictation, false);
    EXPECT_EQ(rig.model.recording(), Recording::none);
    EXPECT_EQ(rig.model.dictationMessage(),
              "Another application is holding the keyboard, so nothing can be recorded now. "
              "Close its menu or dialog and try again.");
    EXPECT_TRUE(rig.calls.empty());
    EXPECT_EQ(HotkeyBindings::load(rig.defaults).pushToTalk, ModifierCombo{kCtrl | kShift});
}

}  // namespace
}  // namespace velmarune
