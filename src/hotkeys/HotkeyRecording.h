#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hotkeys/PasteShortcut.h"
#include "hotkeys/PasteShortcutCheck.h"
#include "keys/ModifierCombo.h"

namespace velmarune {

class UserDefaults;

// Records a new dictation chord from live modifier changes: each press makes
// the keys held then the candidate, and recording ends when every modifier is
// up again. Letting go does not shrink the candidate (nobody releases two
// keys in the same instant), but a key let go before another press drops out.
class ComboRecorder {
  public:
    enum class Status { recording, finished, cancelled };

    void flagsChanged(uint64_t flags);
    void keyDown(uint16_t keyCode);

    Status status() const { return m_status; }
    // The chord to commit once finished.
    std::optional<ModifierCombo> candidate() const { return m_candidate; }

  private:
    Status m_status = Status::recording;
    std::optional<ModifierCombo> m_candidate;
    ModifierCombo m_held;
};

// Stores a recorded chord under "pttBinding" (the caller then reloads the
// listener), unless it equals the modifiers of the Paste Last Dictation
// shortcut: then returns the refusal message and stores nothing.
std::optional<std::string> commitDictationCombo(ModifierCombo candidate, UserDefaults& defaults);

// The shortcut a key-down records: nullopt when it cancels (Escape alone).
std::optional<PasteShortcut> recordedPasteShortcut(uint16_t keyCode, uint64_t flags);

}  // namespace velmarune
