#include "ui/HotkeysTabModel.h"

#include "app/AppState.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/HotkeyBindings.h"
#include "keys/KeyCodes.h"

namespace velmarune {

namespace {
constexpr uint32_t kEscapeKeysym = 0xff1b;

const char* const kGrabRefused =
    "Another application is holding the keyboard, so nothing can be recorded now. Close its "
    "menu or dialog and try again.";

std::string shownShortcut(const std::optional<PasteShortcut>& shortcut) {
    return shortcut ? shortcut->display() : "None";
}
}  // namespace

HotkeysTabModel::HotkeysTabModel(Dependencies deps)
    : m_deps(std::move(deps)), m_self(std::make_shared<HotkeysTabModel*>(this)) {}

HotkeysTabModel::~HotkeysTabModel() {
    // Never leave the listener or the hot key suspended behind a closed tab.
    endRecording();
}

std::string HotkeysTabModel::dictationText() const {
    if (m_recording == Recording::dictation) {
        const auto candidate = m_comboRecorder ? m_comboRecorder->candidate() : std::nullopt;
        return candidate ? candidate->spelledNames() : "Press modifiers…";
    }
    return HotkeyBindings::load(m_deps.defaults).pushToTalk.spelledNames();
}

std::string HotkeysTabModel::pasteText() const {
    if (m_recording == Recording::paste) {
        if (m_checking) {
            return m_checking->display();
        }
        const uint64_t held = heldFlags();
        return held == 0 ? "Press the new shortcut" : ModifierCombo{held}.symbols() + "+…";
    }
    return shownShortcut(PasteShortcut::load(m_deps.defaults));
}

std::string HotkeysTabModel::dictationHint() const {
    return m_recording == Recording::dictation ? "Release modifiers to set. Press Escape to cancel."
                                               : "";
}

std::string HotkeysTabModel::dictationAdvice() const {
    if (m_recording != Recording::none || !m_deps.desktopAdvice) {
        return "";
    }
    return m_deps.desktopAdvice(DesktopService::chordListener,
                                PasteShortcut::load(m_deps.defaults));
}

std::string HotkeysTabModel::pasteAdvice() const {
    if (m_recording != Recording::none || !m_deps.desktopAdvice) {
        return "";
    }
    const auto advice =
        m_deps.desktopAdvice(DesktopService::pasteLastHotKey, PasteShortcut::load(m_deps.defaults));
    return advice.empty() ? ""
                          : "In this session the shortcut is heard through your compositor's "
                            "key bindings: " +
                                advice;
}

std::string HotkeysTabModel::pasteHint() const {
    if (m_recording != Recording::paste) {
        return "";
    }
    return m_checking ? "Checking your desktop's shortcuts…"
                      : "Hold Ctrl or Super with a key. Press Escape to cancel.";
}

void HotkeysTabModel::startRecording(Recording what, bool keyboardGrabbed) {
    cancelRecording();
    m_warning.reset();
    auto& message = what == Recording::dictation ? m_dictationMessage : m_pasteMessage;
    message.reset();
    if (what == Recording::none) {
        changed();
        return;
    }
    if (!keyboardGrabbed) {
        message = kGrabRefused;
        changed();
        return;
    }
    m_recording = what;
    m_heldModifierKeys.clear();
    if (what == Recording::dictation) {
        m_comboRecorder.emplace();
        if (m_deps.appState->suspendHotkeys) {
            m_deps.appState->suspendHotkeys(true);
        }
    } else {
        // So that pressing the current shortcut records it instead of pasting.
        if (m_deps.appState->suspendPasteShortcut) {
            m_deps.appState->suspendPasteShortcut(true);
        }
        m_systemShortcuts.reset();
        m_checking.reset();
        const uint64_t generation = ++m_scanGeneration;
        std::weak_ptr<HotkeysTabModel*> weak = m_self;
        MainQueue* mainQueue = &m_deps.mainQueue;
        m_deps.scanner.execute([read = m_deps.readSystemShortcuts, weak, mainQueue, generation] {
            auto list = read ? read() : std::vector<SystemShortcut>{};
            mainQueue->post([weak, generation, list = std::move(list)] {
                auto self = weak.lock();
                if (!self || (*self)->m_scanGeneration != generation) {
                    return;
                }
                (*self)->m_systemShortcuts = list;
                (*self)->checkPendingPasteShortcut();
            });
        });
    }
    changed();
}

void HotkeysTabModel::cancelRecording() {
    if (m_recording != Recording::none) {
        endRecording();
        changed();
    }
}

void HotkeysTabModel::endRecording() {
    const Recording was = std::exchange(m_recording, Recording::none);
    m_comboRecorder.reset();
    m_heldModifierKeys.clear();
    m_checking.reset();
    ++m_scanGeneration;
    if (was == Recording::dictation && m_deps.appState->suspendHotkeys) {
        m_deps.appState->suspendHotkeys(false);
    } else if (was == Recording::paste && m_deps.appState->suspendPasteShortcut) {
        m_deps.appState->suspendPasteShortcut(false);
    }
}

uint64_t HotkeysTabModel::heldFlags() const {
    uint64_t flags = 0;
    for (const auto& [key, bit] : m_heldModifierKeys) flags |= bit;
    return flags;
}

void HotkeysTabModel::keyEvent(uint32_t keysym, uint32_t scanCode, bool pressed) {
    if (m_recording == Recording::none || m_checking) {
        return;
    }
    // The physical key identifies a modifier: Alt pressed with Shift held may
    // say Meta_L and say Alt_L when it comes up.
    const uint32_t key = scanCode != 0 ? scanCode : keysym;
    if (const uint64_t bit = modifierBitForKeysym(keysym);
        bit != 0 || m_heldModifierKeys.count(key)) {
        if (pressed && bit != 0) {
            m_heldModifierKeys[key] = bit;
        } else if (!pressed) {
            m_heldModifierKeys.erase(key);
        }
        modifierChanged();
        return;
    }
    if (!pressed) {
        return;
    }
    if (m_recording == Recording::dictation) {
        if (keysym == kEscapeKeysym) {
            m_comboRecorder->keyDown(kKeyCodeEscape);
            cancelRecording();
        }
        return;
    }
    pasteKeyDown(keysym);
}

void HotkeysTabModel::modifierChanged() {
    if (m_recording == Recording::dictation) {
        m_comboRecorder->flagsChanged(heldFlags());
        if (m_comboRecorder->status() == ComboRecorder::Status::finished) {
            finishDictation();
            return;
        }
    }
    changed();
}

void HotkeysTabModel::finishDictation() {
    const auto candidate = m_comboRecorder->candidate();
    endRecording();
    if (candidate) {
        m_dictationMessage = commitDictationCombo(*candidate, m_deps.defaults);
        if (!m_dictationMessage && m_deps.appState->reloadHotkeys) {
            m_deps.appState->reloadHotkeys();
        }
    }
    changed();
}

void HotkeysTabModel::pasteKeyDown(uint32_t keysym) {
    const auto keyCode = keyCodeForKeysym(keysym);
    if (!keyCode) {
        endRecording();
        m_pasteMessage =
            "That key can't be used for the shortcut. Choose a letter, a digit, a function key "
            "or a punctuation key.";
        changed();
        return;
    }
    const auto shortcut = recordedPasteShortcut(*keyCode, heldFlags());
    if (!shortcut) {
        cancelRecording();  // Escape alone
        return;
    }
    m_checking = shortcut;
    checkPendingPasteShortcut();
    changed();
}

void HotkeysTabModel::checkPendingPasteShortcut() {
    if (!m_checking || !m_systemShortcuts) {
        return;  // the shortcut or the desktop's list is still to come
    }
    const PasteShortcut shortcut = *m_checking;
    const auto verdict =
        checkPasteShortcut(shortcut.keyCode, shortcut.modifiers,
                           HotkeyBindings::load(m_deps.defaults).pushToTalk, *m_systemShortcuts);
    endRecording();
    switch (verdict.kind) {
        case PasteShortcutVerdict::Kind::refused:
            m_pasteMessage = verdict.message;
            break;
        case PasteShortcutVerdict::Kind::warning:
            m_warning = PendingWarning{shortcut, verdict.message};
            break;
        case PasteShortcutVerdict::Kind::accepted:
            storePasteShortcut(shortcut);
            break;
    }
    changed();
}

// Stores the shortcut and moves the desktop-wide grab to it. A grab the X
// server refuses (another application holds that shortcut) puts the previous
// shortcut back, so Paste Last Dictation keeps working.
void HotkeysTabModel::storePasteShortcut(const std::optional<PasteShortcut>& shortcut) {
    const auto previous = PasteShortcut::load(m_deps.defaults);
    PasteShortcut::save(m_deps.defaults, shortcut);
    const auto& reload = m_deps.appState->reloadPasteShortcut;
    if (!reload || reload() || !shortcut) {
        return;
    }
    PasteShortcut::save(m_deps.defaults, previous);
    reload();
    m_pasteMessage = shortcut->display() + " is already taken by another application. " +
                     (previous ? "Your shortcut stays " + previous->display() + "."
                               : std::string("Paste Last Dictation stays off."));
}

void HotkeysTabModel::resetDictationCombo() {
    cancelRecording();
    m_dictationMessage.reset();
    HotkeyBindings::save(m_deps.defaults, HotkeyBindings{}.pushToTalk);
    if (m_deps.appState->reloadHotkeys) {
        m_deps.appState->reloadHotkeys();
    }
    changed();
}

void HotkeysTabModel::turnPasteShortcutOff() {
    cancelRecording();
    m_pasteMessage.reset();
    m_warning.reset();
    storePasteShortcut(std::nullopt);
    changed();
}

void HotkeysTabModel::resetPasteShortcut() {
    cancelRecording();
    m_pasteMessage.reset();
    m_warning.reset();
    storePasteShortcut(PasteShortcut{});
    changed();
}

void HotkeysTabModel::saveAnyway() {
    if (auto warning = std::exchange(m_warning, std::nullopt)) {
        storePasteShortcut(warning->shortcut);
        changed();
    }
}

void HotkeysTabModel::dismissWarning() {
    if (std::exchange(m_warning, std::nullopt)) {
        changed();
    }
}

void HotkeysTabModel::reload() {
    changed();
}

void HotkeysTabModel::changed() {
    if (onChanged) {
        onChanged();
    }
}

}  // namespace velmarune
