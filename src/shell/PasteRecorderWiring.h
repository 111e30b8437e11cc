#pragma once

#include "delivery/PasteRecorder.h"
#include "diagnostics/PasteDiagnostics.h"
#include "platform/FrontApplication.h"
#include "platform/ModifierState.h"

namespace velmarune {

// The product's recorder: the diagnostic log, with the keyboard state and the
// front application sampled at the keystroke.
inline PasteRecorder makePasteRecorder(PasteDiagnostics& diagnostics, ModifierState& modifiers,
                                       FrontApplication& front) {
    PasteRecorder recorder;
    recorder.currentPressID = [&diagnostics] { return diagnostics.currentPressID(); };
    recorder.snapshot = [&diagnostics](int64_t id, bool complete, const std::string& skipped) {
        diagnostics.recordSnapshot(id, complete, skipped);
    };
    recorder.pasteboardWrite = [&diagnostics](int64_t id, int64_t before, int64_t after) {
        diagnostics.recordPasteboardWrite(id, before, after);
    };
    recorder.keystroke = [&diagnostics, &modifiers, &front](int64_t id) {
        diagnostics.recordKeystroke(id, modifiers.combinedFlags(), modifiers.hardwareFlags(),
                                    front.frontmost());
    };
    recorder.read = [&diagnostics](int64_t id, int64_t reads) {
        diagnostics.recordRead(id, reads);
    };
    recorder.pasteEnd = [&diagnostics](int64_t id, const std::string& result,
                                       const std::string& outcome) {
        diagnostics.recordPasteEnd(id, result, outcome);
    };
    recorder.pasteWithoutPress = [&diagnostics](int64_t characters) {
        diagnostics.recordWindowPaste(characters);
    };
    return recorder;
}

}  // namespace velmarune
