#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hotkeys/HotkeyRecording.h"
#include "hotkeys/PasteShortcut.h"
#include "hotkeys/SystemShortcut.h"
#include "system/BackendChoice.h"

namespace velmarune {

struct AppState;
class Executor;
class MainQueue;
class UserDefaults;

// The Hotkeys settings tab without its widgets: what each line says, the
// recording of a new dictation chord and a new Paste Last Dictation shortcut
// from the window's own key events, and what is stored and reloaded after.
// Main thread only.
class HotkeysTabModel {
  public:
    struct Dependencies {
        UserDefaults& defaults;
        MainQueue& mainQueue;
        // The desktop's shortcut settings are read by helper programs that
        // may take seconds: `readSystemShortcuts` runs on `scanner`.
        Executor& scanner;
        std::function<std::vector<SystemShortcut>()> readSystemShortcuts;
        std::shared_ptr<AppState> appState;  // reloadHotkeys and the paste-shortcut hooks
        // What this session needs before the service hears its keys in every
        // window (a Wayland compositor's key bindings, with the lines for the
        // shortcut given); empty when nothing. Unset on X11.
        std::function<std::string(DesktopService, const std::optional<PasteShortcut>&)>
            desktopAdvice = {};
    };

    enum class Recording { none, dictation, paste };

    // A recorded shortcut the rules warn about: stored only on "Save Anyway".
    struct PendingWarning {
        PasteShortcut shortcut;
        std::string message;
    };

    explicit HotkeysTabModel(Dependencies deps);
    ~HotkeysTabModel();
    HotkeysTabModel(const HotkeysTabModel&) = delete;
    HotkeysTabModel& operator=(const HotkeysTabModel&) = delete;

    // Called after every change the widgets should redraw.
    std::function<void()> onChanged;

    // --- texts ---
    std::string dictationText() const;  // the chord in spelled names, or what recording shows
    std::string pasteText() const;      // the shortcut, "None", or what recording shows
    std::string dictationHint() const;  // empty unless recording the chord
    std::string pasteHint() const;      // empty unless recording the shortcut
    // What to set up in this desktop for the stored chord or shortcut to
    // work everywhere; empty when nothing (and while recording).
    std::string dictationAdvice() const;
    std::string pasteAdvice() const;
    // A refusal or failure shown under its section; cleared by the next action there.
    const std::optional<std::string>& dictationMessage() const { return m_dictationMessage; }
    const std::optional<std::string>& pasteMessage() const { return m_pasteMessage; }
    const std::optional<PendingWarning>& pendingWarning() const { return m_warning; }
    Recording recording() const { return m_recording; }

    // --- actions ---
    // `keyboardGrabbed`: the window holds the keyboard, so the desktop's own
    // shortcuts cannot act on the keys. Without it nothing is recorded.
    void startRecording(Recording what, bool keyboardGrabbed);
    // Escape, the window hidden, the other section's button.
    void cancelRecording();
    // A key event inside the window while recording: `keysym` as the X server
    // reports it, `scanCode` the physical key (0 when unknown). Modifier keys
    // are tracked key by key, left and right apart, so letting go of one Ctrl
    // while the other is held keeps Control.
    void keyEvent(uint32_t keysym, uint32_t scanCode, bool pressed);

    void resetDictationCombo();
    void turnPasteShortcutOff();  // "None"
    void resetPasteShortcut();
    void saveAnyway();
    void dismissWarning();  // "Cancel"

    // The stored values may have changed by hand: show them as they are now.
    void reload();

  private:
    uint64_t heldFlags() const;
    void modifierChanged();
    void pasteKeyDown(uint32_t keysym);
    void finishDictation();
    void checkPendingPasteShortcut();
    void storePasteShortcut(const std::optional<PasteShortcut>& shortcut);
    void endRecording();
    void changed();

    Dependencies m_deps;
    Recording m_recording = Recording::none;
    std::map<uint32_t, uint64_t> m_heldModifierKeys;  // physical key -> modifier bit
    std::optional<ComboRecorder> m_comboRecorder;
    // The desktop's shortcuts, read once per paste recording; absent while the read runs.
    std::optional<std::vector<SystemShortcut>> m_systemShortcuts;
    uint64_t m_scanGeneration = 0;
    std::optional<PasteShortcut> m_checking;  // recorded, waiting for the read above
    std::optional<std::string> m_dictationMessage;
    std::optional<std::string> m_pasteMessage;
    std::optional<PendingWarning> m_warning;
    std::shared_ptr<HotkeysTabModel*> m_self;  // the scan's answer holds this weakly
};

}  // namespace velmarune
