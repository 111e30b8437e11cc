#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "diagnostics/PasteDiagnostics.h"
#include "platform/FrontApplication.h"
#include "platform/ModifierState.h"

namespace velmarune {

// Where the paster records the steps of a paste. Empty hooks record nothing.
// The recorder addresses the press whose paste is in progress itself.
struct PasteRecorder {
    std::function<void(int64_t changeCountBefore, int64_t changeCountAfterWrite,
                       bool snapshotComplete, const std::string& snapshotSkipped)>
        pasteboardWrite;
    std::function<void()> keystroke;
    std::function<void(int64_t reads)> read;
    std::function<void(const std::string& restoreResult, const std::string& outcome)> pasteEnd;
};

// The product's recorder: the diagnostic log, with the keyboard state and the
// front application sampled at the keystroke.
inline PasteRecorder makePasteRecorder(PasteDiagnostics& diagnostics, ModifierState& modifiers,
                                       FrontApplication& front) {
    PasteRecorder recorder;
    recorder.pasteboardWrite = [&diagnostics](int64_t before, int64_t after, bool complete,
                                              const std::string& skipped) {
        diagnostics.recordPasteboardWrite(before, after, complete, skipped);
    };
    recorder.keystroke = [&diagnostics, &modifiers, &front] {
        diagnostics.recordKeystroke(modifiers.combinedFlags(), modifiers.hardwareFlags(),
                                    front.frontmost());
    };
    recorder.read = [&diagnostics](int64_t) { diagnostics.recordRead(); };
    recorder.pasteEnd = [&diagnostics](const std::string& result, const std::string& outcome) {
        diagnostics.recordPasteEnd(result, outcome);
    };
    return recorder;
}

}  // namespace velmarune
