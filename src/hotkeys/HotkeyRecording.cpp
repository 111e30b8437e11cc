#include "hotkeys/HotkeyRecording.h"

#include "hotkeys/HotkeyBindings.h"
#include "keys/KeyCodes.h"

namespace velmarune {

void ComboRecorder::flagsChanged(uint64_t flags) {
    if (m_status != Status::recording) {
        return;
    }
    const ModifierCombo held = ModifierCombo::fromFlags(flags);
    const bool pressed = (held.rawValue & ~m_held.rawValue) != 0;
    m_held = held;
    if (pressed) {
        m_candidate = held;
    } else if (held.empty() && m_candidate) {
        m_status = Status::finished;
    }
}

void ComboRecorder::keyDown(uint16_t keyCode) {
    if (m_status == Status::recording && keyCode == kKeyCodeEscape) {
        m_status = Status::cancelled;
        m_candidate.reset();
    }
}

std::optional<std::string> commitDictationCombo(ModifierCombo candidate, UserDefaults& defaults) {
    if (auto paste = PasteShortcut::load(defaults); paste && paste->modifiers == candidate) {
        return "These are the modifiers of Paste Last Dictation (" + paste->display() +
               "). Choose a different combination.";
    }
    HotkeyBindings::save(defaults, candidate);
    return std::nullopt;
}

std::optional<PasteShortcut> recordedPasteShortcut(uint16_t keyCode, uint64_t flags) {
    const ModifierCombo modifiers = ModifierCombo::fromFlags(flags);
    if (keyCode == kKeyCodeEscape && modifiers.empty()) {
        return std::nullopt;
    }
    return PasteShortcut{keyCode, modifiers};
}

}  // namespace velmarune
