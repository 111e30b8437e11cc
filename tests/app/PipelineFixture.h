#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/DictationPipeline.h"
#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/fake/FakeCaptureSource.h"

namespace velmarune::testing {

// A pipeline wired to fakes: a manual clock and executor, a scripted decoder
// and a paster that records each paste and lets the test finish it.
class PipelineFixture : public ::testing::Test {
  protected:
    struct PasteCall {
        std::string text;
        std::function<void()> onNoRead;
        std::function<void()> onFirstRead;
        std::function<void()> afterPaste;
    };

    void SetUp() override { build(); }

    virtual void customise(DictationPipeline::Dependencies&) {}

    void build() {
        DictationPipeline::Dependencies deps;
        deps.mainQueue = &queue;
        deps.transcriptionExecutor = &executor;
        deps.captureEngine = capture;
        deps.appState = state;
        deps.decodeFn = [this](const Samples& samples, const std::string& language,
                               const CancellationToken&) {
            decodedLanguages.push_back(language);
            decodedSampleCounts.push_back(samples.size());
            if (throwOnDecode) {
                throw std::runtime_error("engine exploded");
            }
            Transcription t;
            if (!results.empty()) {
                t.text = results.front();
                results.pop_front();
            } else {
                t.text = "hello world";
            }
            t.latencyMs = 120;
            t.segments = 1;
            return t;
        };
        deps.insertText = [this](const std::string& text, std::function<void()> onNoRead,
                                 std::function<void()> onFirstRead,
                                 std::function<void()> afterPaste) {
            pastes.push_back(
                {text, std::move(onNoRead), std::move(onFirstRead), std::move(afterPaste)});
        };
        deps.prepareClipboard = [this] { ++clipboardPrepares; };
        deps.showTranscript = [this](const std::string& text) { shownTranscripts.push_back(text); };
        deps.restartCapture = [this] { ++captureRestarts; };
        deps.showNotice = [this](const std::string& text) { notices.push_back(text); };
        deps.pickerLanguage = [this] { return language; };
        deps.addRecent = [this](const std::string& text) -> std::optional<int64_t> {
            recents.push_back(text);
            return static_cast<int64_t>(recents.size());
        };
        deps.pasteShortcut = [] { return std::optional<PasteShortcut>(PasteShortcut{}); };
        deps.showDidntPaste = [this](DidntPastePrompt prompt) {
            prompts.push_back(std::move(prompt));
        };
        deps.dismissDidntPaste = [this] {
            auto closed = std::move(prompts);
            prompts.clear();
            return closed;
        };
        deps.restoreDidntPaste = [this](std::vector<DidntPastePrompt> restored) {
            for (auto& p : restored) {
                prompts.push_back(std::move(p));
            }
        };
        deps.repaste = [this](const std::string& text, std::function<void()>) {
            repasted.push_back(text);
        };
        deps.modifiersHeld = [this] { return modifiersDown; };
        deps.frontApp = [this] { return front; };
        deps.micMode = [] { return MicMode::standard; };
        state->resetEngine = [this] { ++engineResets; };
        customise(deps);
        pipeline = DictationPipeline::create(std::move(deps));
    }

    // Holds the chord for `seconds` of tone at `amplitude` and lets go.
    void dictate(double seconds = 1.0, float amplitude = 0.1f) {
        pipeline->press();
        capture->deliverTone(seconds, amplitude);
        pipeline->release();
    }

    // Runs the transcription task and the main-thread hop.
    void finishDecoding() {
        while (executor.runAll() + queue.runPending() > 0) {
        }
    }

    // The keystroke is posted and the target reads the text at once.
    void completePaste(size_t index) {
        ASSERT_LT(index, pastes.size());
        pastes[index].afterPaste();
        pastes[index].onFirstRead();
    }

    std::shared_ptr<CapturingLogSink> logSink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scopedLog{logSink};
    ManualMainQueue queue;
    ManualExecutor executor;
    std::shared_ptr<FakeCaptureSource> capture = std::make_shared<FakeCaptureSource>();
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    std::shared_ptr<DictationPipeline> pipeline;

    std::deque<std::string> results;
    bool throwOnDecode = false;
    std::string language = "auto";
    bool modifiersDown = false;
    std::optional<std::string> front = std::string("org.example.editor:42");

    std::vector<std::string> decodedLanguages;
    std::vector<size_t> decodedSampleCounts;
    std::vector<PasteCall> pastes;
    std::vector<std::string> shownTranscripts, notices, recents, repasted;
    std::vector<DidntPastePrompt> prompts;
    int clipboardPrepares = 0;
    int captureRestarts = 0;
    int engineResets = 0;
};

}  // namespace velmarune::testing
