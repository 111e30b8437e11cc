#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace velmarune {

// Where the paster records the steps of a paste, each for the press it
// started with. Empty hooks record nothing.
struct PasteRecorder {
    // The press a paste starting now belongs to; absent while recording is off.
    std::function<std::optional<int64_t>()> currentPressID;
    std::function<void(int64_t id, bool complete, const std::string& skipped)> snapshot;
    std::function<void(int64_t id, int64_t changeCountBefore, int64_t changeCountAfterWrite)>
        pasteboardWrite;
    std::function<void(int64_t id)> keystroke;
    std::function<void(int64_t id, int64_t reads)> read;
    std::function<void(int64_t id, const std::string& restoreResult, const std::string& outcome)>
        pasteEnd;
    // A paste made without a press (Paste Last Dictation, the didn't-paste
    // prompt): recorded on a row of its own, with the text's length.
    std::function<void(int64_t characters)> pasteWithoutPress;
};

}  // namespace velmarune
