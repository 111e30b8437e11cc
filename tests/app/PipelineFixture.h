#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/DictationPipeline.h"
#include "delivery/RecentDictations.h"
#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "platform/fake/FakeCaptureSource.h"
#include "platform/fake/FakeFrontApplication.h"
#include "platform/fake/FakeKeyboard.h"
#include "support/CapturingLogSink.h"
#include "support/DeliveryDoubles.h"
#include "support/ScriptedRecognizer.h"

namespace velmarune::testing {

// A pipeline wired to fakes: a manual clock and executor, scripted engines
// behind the product's routing, and a delivery the test finishes by hand.
// With the language on "auto" the multilingual engine hears Hebrew, so the
// Hebrew engine transcribes ("hello world" unless scripted).
class PipelineFixture : public ::testing::Test {
  protected:
    // Runs before the pipeline is built.
    virtual void customise() {}
    // What the pipeline captures from.
    virtual std::shared_ptr<CaptureSource> captureSource() { return capture; }

    void SetUp() override {
        customise();
        state->hebrewEngine = hebrew;
        state->multilingualEngine = multilingual;
        state->resetEngine = [this] { ++engineResets; };
        front.activate("org.example.editor:42");
        pipeline = DictationPipeline::create(DictationPipeline::Collaborators{
            queue, executor, captureSource(), state, defaults, delivery, prompts, display, front,
            keys, recents, diagnostics});
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

    // The keystroke of paste `index` falls due (the pipeline may hold it
    // back while keys are down).
    void keystrokeDue(size_t index) {
        ASSERT_LT(index, pastes().size());
        auto& paste = pastes()[index];
        paste.observer->keystrokeDue([this, index] {
            auto& p = pastes()[index];
            p.keystrokePosted = true;
            p.observer->keystrokePosted();
        });
    }

    // The keystroke is posted and the target reads the text at once.
    void completePaste(size_t index) {
        keystrokeDue(index);
        pastes()[index].observer->firstRead();
    }

    std::vector<RecordingDelivery::Paste>& pastes() { return delivery.pastes; }
    void setLanguage(const std::string& language) { defaults.setString("pttLanguage", language); }
    void holdModifiers(bool held) { keys.flags = held ? 0x40000 : 0; }

    std::shared_ptr<CapturingLogSink> logSink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scopedLog{logSink};
    ManualMainQueue queue;
    ManualExecutor executor;
    MemoryUserDefaults defaults;
    RecordingDelivery delivery;
    RecordingDisplay display;
    RecordingPrompts prompts;
    FakeFrontApplication front;
    FakeModifierState keys;
    std::shared_ptr<FakeCaptureSource> capture = std::make_shared<FakeCaptureSource>();
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    std::shared_ptr<ScriptedRecognizer> hebrew =
        std::make_shared<ScriptedRecognizer>("hello world");
    std::shared_ptr<ScriptedRecognizer> multilingual =
        std::make_shared<ScriptedRecognizer>("multilingual", LanguageDetection{"he", 1.0F});
    std::shared_ptr<RecentDictations> recents = std::make_shared<RecentDictations>(queue);
    std::shared_ptr<PasteDiagnostics> diagnostics;
    std::shared_ptr<DictationPipeline> pipeline;
    int engineResets = 0;
};

}  // namespace velmarune::testing
