#include <gtest/gtest.h>

#include "PipelineFixture.h"

namespace velmarune::testing {
namespace {

using Pipeline = PipelineFixture;

TEST_F(Pipeline, AWholeDictationPastesWithPrerollAndGoesBackToIdle) {
    capture->fillRing(std::vector<float>(20000, 0.05f));  // audio from before the press
    std::vector<AppMode> modes;
    auto watch = state->mode.subscribe([&](const AppMode& m) { modes.push_back(m); });

    dictate(1.0);
    EXPECT_EQ(state->mode.get(), AppMode::transcribing);
    EXPECT_EQ(state->queuedDictations.get(), 1);
    EXPECT_EQ(delivery.prepares, 1);

    finishDecoding();
    ASSERT_EQ(hebrew->calls.size(), 1u);
    EXPECT_EQ(hebrew->calls[0].sampleCount, 24000u);
    ASSERT_EQ(pastes().size(), 1u);
    EXPECT_EQ(pastes()[0].text, "hello world");
    EXPECT_EQ(state->mode.get(), AppMode::pasting);
    EXPECT_EQ(state->lastTranscript.get(), "hello world");
    ASSERT_EQ(recents->entries().size(), 1u);
    EXPECT_EQ(recents->entries()[0].text, "hello world");

    completePaste(0);
    EXPECT_EQ(display.transcripts, std::vector<std::string>{"hello world"});
    EXPECT_EQ(state->mode.get(), AppMode::idle);
    EXPECT_EQ(state->queuedDictations.get(), 0);
    EXPECT_EQ(modes, (std::vector<AppMode>{AppMode::dictating, AppMode::transcribing,
                                           AppMode::pasting, AppMode::idle}));
    EXPECT_TRUE(state->lastPTTReleaseTime.has_value());
}

TEST_F(Pipeline, RejectedRecordingsAreNotQueued) {
    struct Case {
        const char* name;
        double seconds;
        float amplitude;
        double waitBeforeRelease;
        const char* logLine;
        const char* notice;  // empty: no notice
    };
    // In this order: the silence is measured with the pre-roll, empty at first.
    const Case cases[] = {
        {"silence", 0.5, 0.0001f, 0.0,
         "SILENCE_GATE: meanAbs=0.000100 < 0.000200, skipping transcription", ""},
        {"tap", 0.29, 0.1f, 0.0, "TAP: new samples=4640 - ignored", ""},
        {"quick tap without audio", 0.0, 0.0f, 0.3, "TAP: new samples=0 - ignored", ""},
        {"no new audio", 0.0, 0.0f, 1.0,
         "NO_AUDIO: 0 buffers, capture restarted=true - not transcribing",
         "Microphone isn't sending audio. Check Settings > Audio, or quit and reopen Velmarune."},
        {"silent input", 1.2, 0.0005f, 0.0,
         "SILENT_INPUT: device=Test Microphone - not transcribing, choosing the input again",
         "No sound from Test Microphone. Check Settings > Audio."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        display.notices.clear();
        pipeline->press();
        capture->deliverTone(c.seconds, c.amplitude);
        queue.advance(c.waitBeforeRelease);
        pipeline->release();
        EXPECT_TRUE(logSink->contains(c.logLine));
        EXPECT_EQ(display.notices, std::vector<std::string>(*c.notice ? 1 : 0, c.notice));
        EXPECT_EQ(state->queuedDictations.get(), 0);
        EXPECT_EQ(state->mode.get(), AppMode::idle);
    }
    EXPECT_EQ(capture->reselectCount(), 1);  // for the silent input
    // Only the press without buffers restarted capture, and only once.
    EXPECT_EQ(capture->restartCount(), 1);
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
}

TEST_F(Pipeline, PastesInSpokenOrderAndNeverWhileRecording) {
    hebrew->results = {"first", "second"};
    int emptied = 0;
    dictate();
    dictate();
    pipeline->setOnQueueEmpty([&] { ++emptied; });
    pipeline->press();  // dictating again while both become ready
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
    EXPECT_EQ(state->mode.get(), AppMode::dictating);
    EXPECT_EQ(state->queuedDictations.get(), 2);
    queue.advance(0.1);
    EXPECT_TRUE(pastes().empty());

    capture->deliverTone(0.1, 0.1f);
    pipeline->release();  // a tap: rejected, the queue goes on
    ASSERT_EQ(pastes().size(), 1u);
    EXPECT_EQ(pastes()[0].text, "first");
    completePaste(0);
    ASSERT_EQ(pastes().size(), 2u);
    EXPECT_EQ(pastes()[1].text, "second");
    EXPECT_EQ(emptied, 0);
    completePaste(1);
    EXPECT_EQ(emptied, 1);  // once, after the last paste
    dictate();
    finishDecoding();
    completePaste(2);
    EXPECT_EQ(emptied, 1);
}

TEST_F(Pipeline, TheNextPasteWaitsUntilTheTargetHasReadThePreviousOne) {
    hebrew->results = {"first", "second", "third"};
    dictate();
    dictate();
    dictate();
    finishDecoding();
    ASSERT_EQ(pastes().size(), 1u);
    // Keystroke posted but not read yet: the clipboard must keep "first".
    keystrokeDue(0);
    EXPECT_EQ(pastes().size(), 1u);
    pastes()[0].observer->firstRead();
    ASSERT_EQ(pastes().size(), 2u);
    EXPECT_EQ(pastes()[1].text, "second");

    // A target that never reads holds the next paste back for a bounded time.
    keystrokeDue(1);
    queue.advance(DictationPipeline::kReadWaitSeconds - 0.01);
    EXPECT_EQ(pastes().size(), 2u);
    queue.advance(0.01);
    ASSERT_EQ(pastes().size(), 3u);
    EXPECT_EQ(pastes()[2].text, "third");
}

TEST_F(Pipeline, HeldModifiersDelayThePasteAndDropItAfterTenSeconds) {
    holdModifiers(true);
    dictate();
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
    EXPECT_TRUE(state->waitingForKeys.get());
    queue.advance(9.9);
    EXPECT_TRUE(pastes().empty());
    holdModifiers(false);
    queue.advance(0.02);
    ASSERT_EQ(pastes().size(), 1u);
    EXPECT_FALSE(state->waitingForKeys.get());
    completePaste(0);

    holdModifiers(true);
    dictate();
    finishDecoding();
    queue.advance(10.1);
    EXPECT_EQ(pastes().size(), 1u);
    ASSERT_EQ(prompts.prompts.size(), 1u);
    EXPECT_EQ(prompts.prompts[0].text, "hello world");
    EXPECT_EQ(state->queuedDictations.get(), 0);
}

TEST_F(Pipeline, AKeystrokeDueWhileKeysAreHeldWaitsForThemWithinTheSameLimit) {
    dictate();
    finishDecoding();
    ASSERT_EQ(pastes().size(), 1u);
    // The next chord goes down between the write and the keystroke.
    holdModifiers(true);
    keystrokeDue(0);
    EXPECT_FALSE(pastes()[0].keystrokePosted);
    queue.advance(1.0);
    EXPECT_FALSE(pastes()[0].keystrokePosted);
    EXPECT_EQ(state->mode.get(), AppMode::pasting);
    holdModifiers(false);
    queue.advance(DictationPipeline::kPollIntervalSeconds);
    EXPECT_TRUE(pastes()[0].keystrokePosted);
    EXPECT_EQ(state->mode.get(), AppMode::idle);
    pastes()[0].observer->firstRead();

    // The text is already promised: after the limit the keystroke goes anyway.
    dictate();
    finishDecoding();
    ASSERT_EQ(pastes().size(), 2u);
    holdModifiers(true);
    keystrokeDue(1);
    queue.advance(DictationPipeline::kKeysHeldLimitSeconds - 0.1);
    EXPECT_FALSE(pastes()[1].keystrokePosted);
    queue.advance(0.2);
    EXPECT_TRUE(pastes()[1].keystrokePosted);
}

TEST_F(Pipeline, ADictationForAnotherAppIsOfferedInsteadOfPasted) {
    dictate();
    front.activate("org.example.other:7");
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
    ASSERT_EQ(prompts.prompts.size(), 1u);
    EXPECT_EQ(prompts.prompts[0].entryID, 1);
    prompts.prompts[0].onPaste();
    ASSERT_EQ(delivery.repastes.size(), 1u);
    EXPECT_EQ(delivery.repastes[0].text, "hello world");

    // Two windows the desktop cannot name are not taken for the same one
    // (the rules are FrontChange's; the pipeline counts the activations).
    front.activate("?:0");
    dictate();
    front.activate("?:0");
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
    ASSERT_EQ(prompts.prompts.size(), 1u);  // the first was pasted from its prompt
    EXPECT_EQ(prompts.prompts[0].entryID, 2);
}

TEST_F(Pipeline, AnUnreadPasteIsOfferedAgain) {
    dictate();
    finishDecoding();
    keystrokeDue(0);
    pastes()[0].observer->noRead();
    ASSERT_EQ(prompts.prompts.size(), 1u);
    EXPECT_EQ(prompts.prompts[0].text, "hello world");
}

TEST_F(Pipeline, ThreeEmptyTranscriptsInARowResetTheEngineOnce) {
    hebrew->results = {"", "", "words", "", "", ""};
    for (int i = 0; i < 6; ++i) {
        dictate();
        finishDecoding();
        for (size_t p = 0; p < pastes().size(); ++p) {
            if (!pastes()[p].keystrokePosted) {
                completePaste(p);
            }
        }
    }
    EXPECT_EQ(engineResets, 1);
}

TEST_F(Pipeline, PasteLastWithinTheHoldCancelsThePress) {
    // Other added modifiers are an ordinary release.
    pipeline->press();
    capture->deliverTone(1.0, 0.1f);
    pipeline->pushToTalkReleasedByAddedModifier(0x80000);
    EXPECT_FALSE(pipeline->isRecording());
    EXPECT_EQ(state->queuedDictations.get(), 1);

    pipeline->press();
    capture->deliverTone(1.0, 0.1f);
    pipeline->pushToTalkReleasedByAddedModifier(0x160000 | 0x100);  // the shortcut's modifiers
    EXPECT_TRUE(pipeline->isRecording());
    queue.advance(0.4);
    pipeline->cancelForPasteLast();
    queue.advance(1.0);
    EXPECT_FALSE(pipeline->isRecording());
    EXPECT_EQ(state->queuedDictations.get(), 1);
}

TEST_F(Pipeline, AfterTheHoldThePressIsQueuedAndALaterShortcutCancelsIt) {
    dictate();  // an ordinary dictation that must survive
    prompts.show(DidntPastePrompt{"earlier", std::nullopt, {}, {}});
    pipeline->press();
    capture->deliverTone(1.0, 0.1f);
    pipeline->holdForPasteLast();
    capture->deliverTone(0.3, 0.1f);  // not kept: the press is on hold
    queue.advance(0.5);
    EXPECT_EQ(state->queuedDictations.get(), 2);
    EXPECT_TRUE(hebrew->calls.empty());
    EXPECT_TRUE(prompts.prompts.empty());  // a kept dictation closes the prompt

    pipeline->cancelForPasteLast();
    EXPECT_EQ(state->queuedDictations.get(), 1);
    ASSERT_EQ(prompts.prompts.size(), 1u);  // ... and its cancel brings it back
    EXPECT_EQ(prompts.prompts[0].text, "earlier");
    finishDecoding();
    ASSERT_EQ(pastes().size(), 1u);
    // Only the ordinary dictation was decoded.
    EXPECT_EQ(hebrew->calls.size(), 1u);
}

TEST_F(Pipeline, ADecodeCancelledInFlightDeliversNothingAndIsNoError) {
    dictate();
    hebrew->onTranscribe = [&] { pipeline->discardQueue("purge"); };
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
    EXPECT_EQ(state->mode.get(), AppMode::idle);

    // An engine that stops with an error once cancelled.
    hebrew->onTranscribe = nullptr;
    hebrew->failTranscription = true;
    dictate();
    pipeline->stopEverything();
    finishDecoding();
    EXPECT_FALSE(logSink->contains("Transcription error: engine exploded"));
    EXPECT_TRUE(
        logSink->contains("transcribe Task cancelled mid-flight, discarding result length=0"));
}

TEST_F(Pipeline, ATranscriptionErrorDropsTheJobAndTheNextOneRuns) {
    hebrew->failTranscription = true;
    dictate();
    dictate();
    executor.runAll();
    hebrew->failTranscription = false;
    finishDecoding();
    EXPECT_TRUE(logSink->contains("Transcription error: engine exploded"));
    EXPECT_EQ(pastes().size(), 1u);
}

TEST_F(Pipeline, StopEverythingEmptiesTheQueueAndStopsCapture) {
    pipeline->startCapture();
    pipeline->startCapture();
    EXPECT_EQ(capture->startCount(), 1);
    dictate();
    dictate();
    pipeline->press();
    pipeline->stopEverything();
    EXPECT_FALSE(pipeline->isRecording());
    EXPECT_EQ(state->queuedDictations.get(), 0);
    EXPECT_EQ(state->mode.get(), AppMode::idle);
    EXPECT_EQ(capture->stopCount(), 1);
    EXPECT_EQ(capture->resetCount(), 1);
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
}

// The routing rules are DecodeRouter's; the default "auto" is in the first test.
TEST_F(Pipeline, TheLanguageSettingReachesTheRouter) {
    setLanguage("en");
    dictate();
    finishDecoding();
    ASSERT_EQ(pastes().size(), 1u);
    EXPECT_EQ(pastes()[0].text, "multilingual");
    EXPECT_EQ(multilingual->calls.at(0).language, "en");
    EXPECT_TRUE(multilingual->detectedSampleCounts.empty());
}

TEST_F(Pipeline, AReleaseWithoutEnginesIsNotKept) {
    state->hebrewEngine.reset();
    state->multilingualEngine.reset();
    dictate();
    EXPECT_TRUE(logSink->contains("PTT_RELEASED: bootstrap nil, not transcribing"));
    EXPECT_EQ(state->queuedDictations.get(), 0);
}

}  // namespace
}  // namespace velmarune::testing
