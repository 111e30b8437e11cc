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
    EXPECT_TRUE(
        logSink->contains("PTT_ACTIVE: queued=0, captureRunning=false, prerollFrames=8000"));
    EXPECT_TRUE(
        logSink->contains("PTT_RELEASED: samples=24000, duration=1.500000, buffersReceived=100"));

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

struct GateCase {
    const char* name;
    double seconds;
    float amplitude;
    double waitBeforeRelease;
    const char* logLine;
    const char* notice;  // empty: no notice
};

class PipelineGate : public PipelineFixture, public ::testing::WithParamInterface<GateCase> {};

TEST_P(PipelineGate, RejectedRecordingsAreNotQueued) {
    const GateCase& c = GetParam();
    pipeline->press();
    capture->deliverTone(c.seconds, c.amplitude);
    queue.advance(c.waitBeforeRelease);
    pipeline->release();
    EXPECT_TRUE(logSink->contains(c.logLine)) << c.name;
    if (*c.notice) {
        EXPECT_EQ(display.notices, std::vector<std::string>{c.notice});
    } else {
        EXPECT_TRUE(display.notices.empty());
    }
    EXPECT_EQ(state->queuedDictations.get(), 0);
    EXPECT_EQ(state->mode.get(), AppMode::idle);
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PipelineGate,
    ::testing::Values(
        GateCase{"tap", 0.29, 0.1f, 0.0, "TAP: new samples=4640 - ignored", ""},
        GateCase{"quick tap without audio", 0.0, 0.0f, 0.3, "TAP: new samples=0 - ignored", ""},
        GateCase{"no new audio", 0.0, 0.0f, 1.0,
                 "NO_AUDIO: 0 buffers, capture restarted=true - not transcribing",
                 "Microphone isn't sending audio. Check Settings > Audio, or quit and reopen "
                 "Velmarune."},
        GateCase{
            "silent input", 1.2, 0.0005f, 0.0,
            "SILENT_INPUT: device=Test Microphone - not transcribing, choosing the input again",
            "No sound from Test Microphone. Check Settings > Audio."},
        GateCase{"silence", 0.5, 0.0001f, 0.0,
                 "SILENCE_GATE: meanAbs=0.000100 < 0.000200, skipping transcription", ""}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(Pipeline, SilentInputChoosesTheInputAgainAndWatchdogRestartsOnce) {
    pipeline->press();
    queue.advance(0.5);
    queue.advance(0.5);
    EXPECT_EQ(capture->restartCount(), 1);
    EXPECT_EQ(logSink->count(
                  "WATCHDOG: 0 buffers within 500 ms of PTT_ACTIVE (dropped=0, formatChanges=0) - "
                  "restarting capture once"),
              1u);
    capture->deliverTone(1.2, 0.0005f);
    pipeline->release();
    EXPECT_EQ(capture->reselectCount(), 1);
}

TEST_F(Pipeline, TheQueueKeepsFiveAndRefusesTheSixth) {
    for (int i = 0; i < 5; ++i) {
        dictate();
    }
    EXPECT_EQ(state->queuedDictations.get(), 5);
    EXPECT_TRUE(display.notices.empty());
    dictate();
    EXPECT_EQ(state->queuedDictations.get(), 5);
    EXPECT_EQ(display.notices,
              std::vector<std::string>{"Too many dictations waiting. This one wasn't kept."});
    EXPECT_TRUE(logSink->contains("QUEUE_FULL: 5 waiting - press not kept"));
}

TEST_F(Pipeline, PastesInSpokenOrderAndNeverWhileRecording) {
    hebrew->results = {"first", "second"};
    dictate();
    dictate();
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
    EXPECT_TRUE(logSink->contains("NOT_PASTED: keys held"));
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
    EXPECT_TRUE(logSink->contains("NOT_PASTED: app changed"));
    ASSERT_EQ(prompts.prompts.size(), 1u);
    EXPECT_EQ(prompts.prompts[0].entryID, 1);
    prompts.prompts[0].onPaste();
    ASSERT_EQ(delivery.repastes.size(), 1u);
    EXPECT_EQ(delivery.repastes[0].text, "hello world");

    // No front application at all does not stop a paste.
    front.activate("org.example.editor:42");
    dictate();
    front.activate(std::nullopt);
    finishDecoding();
    EXPECT_EQ(pastes().size(), 1u);

    // Two windows the desktop cannot name are not taken for the same one.
    keystrokeDue(0);
    pastes()[0].observer->firstRead();
    front.activate("?:0");
    dictate();
    front.activate("?:0");
    finishDecoding();
    EXPECT_EQ(pastes().size(), 1u);
    EXPECT_EQ(prompts.prompts.size(), 1u);
}

TEST_F(Pipeline, AnUnreadPasteIsOfferedAgain) {
    dictate();
    finishDecoding();
    keystrokeDue(0);
    pastes()[0].observer->noRead();
    EXPECT_TRUE(logSink->contains("PASTE_NOT_READ: no app read the transcript"));
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
    EXPECT_EQ(logSink->count("3 consecutive empty transcriptions — auto-resetting engine"), 1u);
    EXPECT_TRUE(logSink->contains("Empty transcription result (2 consecutive)"));
}

TEST_F(Pipeline, PasteLastWithinTheHoldCancelsThePress) {
    pipeline->press();
    capture->deliverTone(1.0, 0.1f);
    pipeline->pushToTalkReleasedByAddedModifier(0x160000 | 0x100);  // the shortcut's modifiers
    EXPECT_TRUE(pipeline->isRecording());
    queue.advance(0.4);
    pipeline->cancelForPasteLast();
    EXPECT_TRUE(logSink->contains("PASTE_LAST: dictation press cancelled"));
    queue.advance(1.0);
    EXPECT_FALSE(pipeline->isRecording());
    EXPECT_EQ(state->queuedDictations.get(), 0);
    EXPECT_EQ(state->mode.get(), AppMode::idle);
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
    EXPECT_TRUE(logSink->contains("PASTE_LAST: queued press cancelled"));
    EXPECT_EQ(state->queuedDictations.get(), 1);
    ASSERT_EQ(prompts.prompts.size(), 1u);  // ... and its cancel brings it back
    EXPECT_EQ(prompts.prompts[0].text, "earlier");
    finishDecoding();
    ASSERT_EQ(pastes().size(), 1u);
    // Only the ordinary dictation was decoded.
    EXPECT_EQ(hebrew->calls.size(), 1u);
}

TEST_F(Pipeline, AReleaseWithOtherModifiersIsAnOrdinaryRelease) {
    pipeline->press();
    capture->deliverTone(1.0, 0.1f);
    pipeline->pushToTalkReleasedByAddedModifier(0x80000);
    EXPECT_FALSE(pipeline->isRecording());
    EXPECT_EQ(state->queuedDictations.get(), 1);
}

TEST_F(Pipeline, ADecodeCancelledInFlightDeliversNothing) {
    dictate();
    hebrew->onTranscribe = [&] { pipeline->discardQueue("purge"); };
    finishDecoding();
    EXPECT_TRUE(logSink->contains("queue discarded (purge): 1 dictations"));
    EXPECT_TRUE(
        logSink->contains("transcribe Task cancelled mid-flight, discarding result length=11"));
    EXPECT_TRUE(pastes().empty());
    EXPECT_EQ(state->mode.get(), AppMode::idle);
}

TEST_F(Pipeline, ADecodeThatStopsOnCancellationIsNoError) {
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

TEST_F(Pipeline, OnQueueEmptyRunsOnceAfterTheLastPaste) {
    int calls = 0;
    dictate();
    pipeline->setOnQueueEmpty([&] { ++calls; });
    finishDecoding();
    EXPECT_EQ(calls, 0);
    completePaste(0);
    EXPECT_EQ(calls, 1);
    dictate();
    finishDecoding();
    completePaste(1);
    EXPECT_EQ(calls, 1);
}

TEST_F(Pipeline, HeldPastesWaitForTheFrontApplicationOrTheDeadline) {
    pipeline->setPastesHeld(true);
    dictate();
    finishDecoding();
    EXPECT_TRUE(pastes().empty());
    front.activate("org.example.dialog:9");
    pipeline->waitForFront(std::string("org.example.editor:42"),
                           queue.now() + std::chrono::seconds(1));
    queue.advance(0.5);
    EXPECT_TRUE(pastes().empty());
    front.activate("org.example.editor:42");
    queue.advance(0.02);
    EXPECT_EQ(pastes().size(), 1u);
    EXPECT_FALSE(pipeline->pastesHeld());
}

TEST_F(Pipeline, TheLanguageSettingRoutesEachDictation) {
    multilingual->detection = {"en", 0.95F};
    struct Case {
        const char* setting;
        const char* engine;  // the one that transcribes
        const char* language;
        size_t detections;  // by the multilingual engine, counted so far
    };
    const Case cases[] = {
        {"he", "hello world", "he", 0},
        {"en", "multilingual", "en", 0},
        {"auto", "multilingual", "en", 1},
        {"fr", "multilingual", "en", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        setLanguage(c.setting);
        dictate();
        finishDecoding();
        ASSERT_FALSE(pastes().empty());
        EXPECT_EQ(pastes().back().text, c.engine);
        const auto& calls =
            std::string(c.engine) == "hello world" ? hebrew->calls : multilingual->calls;
        EXPECT_EQ(calls.back().language, c.language);
        EXPECT_EQ(multilingual->detectedSampleCounts.size(), c.detections);
        completePaste(pastes().size() - 1);
    }
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
