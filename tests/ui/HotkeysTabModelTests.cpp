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
    DesktopSession session;    // whose backends' problems the tab shows as advice
    HotkeysTabModel model{
        {defaults, queue, scanner, [this] { return desktop; }, state,
         [this](DesktopService service, const std::optional<PasteShortcut>& last) {
             return choiceFor(chooseBackends(session, last), service).problem;
         }}};

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
        std::string shown;                    // the refusal, or the warning that asks first
    };
    const std::vector<Case> cases{
        // Right Ctrl counts as Ctrl; Shift turns the keysym into "B" or "!".
        {{kCtrlR, kShiftL, kSuperL},
         letter('B'),
         PasteShortcut{11, ModifierCombo{kCtrl | kShift | kSuper}},
         ""},
        {{kShiftL, kSuperL}, letter('!'), PasteShortcut{18, ModifierCombo{kShift | kSuper}}, ""},
        {{kCtrlL},
         letter('v'),
         standard,
         "Ctrl+V is Paste itself. Choose a different combination."},
        {{kCtrlL},
         {0x1008ff12, 121},
         standard,  // a media key outside the key table
         "That key can't be used for the shortcut. Choose a letter, a digit, a function key or a "
         "punctuation key."},
        {{}, kEscape, standard, ""},  // Escape alone cancels
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        TabRig rig;
        rig.recordPaste(c.modifiers, c.key);
        EXPECT_EQ(rig.model.recording(), Recording::none);
        EXPECT_EQ(PasteShortcut::load(rig.defaults), c.stored);
        const auto& warning = rig.model.pendingWarning();
        EXPECT_EQ(warning ? warning->message : rig.model.pasteMessage().value_or(""), c.shown);
        // Suspended while recording, registered again after, and again when it
        // changed.
        const std::vector<std::string> kept{"suspendPaste", "resumePaste"};
        auto expected = kept;
        if (c.stored != standard)
            expected.push_back("reloadPaste");
        EXPECT_EQ(rig.calls, expected);
    }
}

TEST(HotkeysTabModel, AWarnedShortcutWaitsForTheDesktopListAndIsStoredOnlyOnSaveAnyway) {
    TabRig rig;
    rig.desktop = {{11, kCtrl | kSuper, SystemShortcut::Desktop::kde}};
    rig.model.startRecording(Recording::paste, true);
    rig.press(kCtrlL);
    EXPECT_EQ(rig.model.pasteText(), "Ctrl+…");
    rig.press(kSuperL);
    rig.press(letter('b'));
    EXPECT_EQ(rig.model.pasteHint(), "Checking your desktop's shortcuts…");
    rig.finishScan();
    ASSERT_TRUE(rig.model.pendingWarning());
    EXPECT_EQ(rig.model.pendingWarning()->message,
              "Ctrl+Super+B is also a KDE Plasma shortcut. To free it, open System Settings > "
              "Shortcuts.");
    rig.model.dismissWarning();
    EXPECT_EQ(PasteShortcut::load(rig.defaults), PasteShortcut{});

    rig.recordPaste({kCtrlL, kSuperL}, letter('b'));
    rig.model.saveAnyway();
    EXPECT_EQ(PasteShortcut::load(rig.defaults),
              (PasteShortcut{11, ModifierCombo{kCtrl | kSuper}}));
    EXPECT_EQ(rig.calls.back(), "reloadPaste");
}

TEST(HotkeysTabModel, AShortcutTheDisplayRefusesKeepsThePreviousOne) {
    TabRig rig;
    PasteShortcut::save(rig.defaults, PasteShortcut{35, ModifierCombo{kCtrl | kAlt}});
    rig.grabsSucceed = false;
    rig.recordPaste({kCtrlL, kSuperL}, letter('k'));
    EXPECT_EQ(
        rig.model.pasteMessage(),
        "Ctrl+Super+K is already taken by another application. Your shortcut stays Ctrl+Alt+P.");
    EXPECT_EQ(PasteShortcut::load(rig.defaults), (PasteShortcut{35, ModifierCombo{kCtrl | kAlt}}));
    EXPECT_EQ(rig.calls.back(),
              "reloadPaste");  // the previous one registered again

    rig.model.turnPasteShortcutOff();  // off needs no grab
    EXPECT_EQ(PasteShortcut::load(rig.defaults), std::nullopt);
    EXPECT_EQ(rig.model.pasteText(), "None");
    rig.model.resetPasteShortcut();
    EXPECT_EQ(rig.model.pasteMessage(),
              "Ctrl+Shift+Super+V is already taken by another application. Paste Last Dictation "
              "stays off.");
}

TEST(HotkeysTabModel, ChordRecordingIsStoredCancelledRefusedOrPrevented) {
    TabRig rig;
    auto recordChord = [&](Key first, Key second) {
        rig.model.startRecording(Recording::dictation, true);
        rig.press(first);
        rig.press(second);
        rig.release(second);
        rig.release(first);
    };
    // The listener rests while recording, so the chord starts no dictation.
    recordChord(kSuperL, kAltL);
    EXPECT_EQ(HotkeyBindings::load(rig.defaults).pushToTalk, ModifierCombo{kSuper | kAlt});
    EXPECT_EQ(rig.calls, (std::vector<std::string>{"suspendPTT", "resumePTT", "reloadHotkeys"}));
    HotkeyBindings::save(rig.defaults, HotkeyBindings{}.pushToTalk);
    PasteShortcut::save(rig.defaults, PasteShortcut{35, ModifierCombo{kCtrl | kAlt}});

    rig.model.startRecording(Recording::dictation, true);
    rig.press(kSuperL);
    rig.press(kEscape);
    EXPECT_EQ(rig.model.recording(), Recording::none);

    recordChord(kCtrlL, kAltL);
    EXPECT_EQ(rig.model.dictationMessage(),
              "These are the modifiers of Paste Last Dictation (Ctrl+Alt+P). Choose a different "
              "combination.");

    // Another application holds the keyboard: nothing is recorded or suspended.
    rig.calls.clear();
    rig.model.startRecording(Recording::dictation, false);
    EXPECT_EQ(rig.model.recording(), Recording::none);
    EXPECT_EQ(rig.model.dictationMessage(),
              "Another application is holding the keyboard, so nothing can be recorded now. Close "
              "its menu or dialog and try again.");
    EXPECT_TRUE(rig.calls.empty());
    EXPECT_EQ(HotkeyBindings::load(rig.defaults).pushToTalk, ModifierCombo{kCtrl | kShift});
}

// A sway session whose keyboards cannot be read: both the chord and the
// paste-last shortcut need the compositor's bindings, and the paste-last
// line must follow the shortcut as it is re-recorded.
TEST(HotkeysTabModel, AdviceNamesTheCompositorLinesForTheStoredShortcutAndHidesWhileRecording) {
    TabRig rig;
    rig.session.wayland = rig.session.waylandReachable = true;
    rig.session.compositor = "sway";
    rig.session.evdevProblem = "Velmarune cannot read the keyboards.";
    EXPECT_NE(rig.model.dictationAdvice().find("bindsym --release F9 exec velmarune ptt release"),
              std::string::npos)
        << rig.model.dictationAdvice();
    EXPECT_NE(rig.model.pasteAdvice().find("exec velmarune ptt paste-last"), std::string::npos)
        << rig.model.pasteAdvice();

    rig.model.startRecording(Recording::paste, true);
    rig.finishScan();
    EXPECT_EQ(rig.model.pasteAdvice(), "");
    rig.press(kCtrlL);
    rig.press(kAltL);
    rig.press(letter('j'));
    EXPECT_EQ(rig.model.recording(), Recording::none) << rig.model.pasteText();
    EXPECT_NE(rig.model.pasteAdvice().find("bindsym Ctrl+Mod1+j exec velmarune ptt paste-last"),
              std::string::npos)
        << rig.model.pasteAdvice();
    rig.model.turnPasteShortcutOff();
    EXPECT_EQ(rig.model.pasteAdvice(), "");
}

}  // namespace
}  // namespace velmarune
