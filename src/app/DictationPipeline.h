#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/AppMode.h"
#include "app/AppState.h"
#include "audio/CaptureSource.h"
#include "audio/CaptureStats.h"
#include "audio/MicMode.h"
#include "delivery/DictationDisplay.h"
#include "delivery/DidntPastePrompts.h"
#include "delivery/TextDelivery.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "foundation/UserDefaults.h"
#include "platform/FrontApplication.h"
#include "platform/ModifierState.h"
#include "recognition/TranscriptCleanup.h"
#include "recognition/Transcription.h"

namespace velmarune {

class PasteDiagnostics;
class RecentDictations;

using Samples = std::vector<float>;
// Transcribes one recording; runs on the transcription executor and should
// stop early once the token is cancelled.
using DecodeFunction = std::function<Transcription(const Samples&, const CancellationToken&)>;

// Carries every dictation from the press of the chord to the paste: takes
// the pre-roll, collects samples, gates, queues, transcribes one job at a
// time in the background and pastes strictly in spoken order. Main thread
// only, except the two capture callbacks.
class DictationPipeline : public std::enable_shared_from_this<DictationPipeline> {
  public:
    static constexpr int64_t kPrerollSamples = 8000;
    static constexpr size_t kRecordingReserveSamples = 4'800'000;
    static constexpr double kWatchdogDelaySeconds = 0.5;
    static constexpr double kPasteLastHoldSeconds = 0.5;
    static constexpr size_t kQueueLimit = 5;
    static constexpr double kKeysHeldLimitSeconds = 10.0;
    static constexpr double kPollIntervalSeconds = 0.02;
    static constexpr int64_t kEmptyTranscriptLimit = 3;
    static constexpr double kSampleRateHz = 16000.0;
    static constexpr double kNoticeSeconds = 5.0;
    // Longest the next paste waits for the target to read the previous one.
    static constexpr double kReadWaitSeconds = 0.5;

    // Everything the pipeline works with; all outlive it. Each is called on
    // the main thread unless stated.
    struct Collaborators {
        MainQueue& mainQueue;
        Executor& transcriptionExecutor;  // one decode at a time, in the background
        // The always-on capture: the pipeline sets its two callbacks, which
        // run on the audio-delivery queue.
        std::shared_ptr<CaptureSource> capture;
        // Published state, the loaded engines (read at each release: a reset
        // may replace them) and resetEngine.
        std::shared_ptr<AppState> appState;
        // "pttLanguage" and the paste shortcut, read at the moment of use.
        const UserDefaults& defaults;
        TextDelivery& delivery;
        DidntPastePrompts& didntPaste;
        DictationDisplay& display;
        // Answered at once (backends keep them current): the pipeline asks at
        // every release and while a paste waits.
        FrontApplication& frontApplication;
        ModifierState& keys;
        std::shared_ptr<RecentDictations> recents;      // optional
        std::shared_ptr<PasteDiagnostics> diagnostics;  // optional
    };

    // Builds the pipeline and installs its two capture callbacks.
    static std::shared_ptr<DictationPipeline> create(Collaborators collaborators);

    // Starts the always-on capture, once.
    void startCapture();

    // Listener events.
    void press();
    void release(bool cancellableByPasteLast = false);
    void pushToTalkReleasedByAddedModifier(uint64_t flags);
    void holdForPasteLast();
    void cancelForPasteLast();

    void discardQueue(const std::string& reason);
    void stopEverything();
    void prepareForCapture();
    void forceMode(AppMode mode);

    // Pastes wait while held; waitForFront releases them when `target` is in
    // front again, or at `deadline`.
    void setPastesHeld(bool held);
    bool pastesHeld() const { return m_pastesHeld; }
    void waitForFront(std::optional<std::string> target, TimePoint deadline);

    // Run once when the queue is empty and no paste is in flight.
    void setOnQueueEmpty(std::function<void()> callback);

    // Read-only views for the shell and tests.
    size_t queueLength() const { return m_jobs.size(); }
    bool isRecording() const { return m_isRecording; }
    int64_t pressSerial() const { return m_pressSerial; }

  private:
    struct Job {
        struct Phase {
            enum class Kind { ready, waiting, decoding } kind = Kind::waiting;
            std::string text;  // ready only
            bool operator==(const Phase&) const = default;
        };
        int64_t serial = 0;
        std::optional<int64_t> diag;
        std::shared_ptr<const Samples> samples;
        double seconds = 0;
        DecodeFunction decode;
        std::optional<std::string> frontAtRelease;
        uint64_t activationsAtRelease = 0;
        TimePoint releasedAt;
        bool cancellableByPasteLast = false;
        Phase phase;
        std::optional<TimePoint> readyAt;
        std::optional<TimePoint> keysHeldSince;
        int64_t keysWaitedMs = 0;
        std::optional<int64_t> recentID;
    };

    struct RecordingState {
        bool isActive = false;
        // The ring position where the pre-roll ended: earlier samples of a
        // block are already in the pre-roll.
        int64_t fromFrame = 0;
        Samples samples;
    };

    struct DecodeOutcome {
        Transcription transcription;
        CleanupResult cleaned;
    };

    class PasteWatch;

    explicit DictationPipeline(Collaborators collaborators);
    void installCaptureCallbacks();

    TimePoint now() const { return m_deps.mainQueue.now(); }
    bool modifiersHeld() const;
    // The decode with the engines loaded now; absent when none is.
    std::optional<DecodeFunction> decoderFor(MicMode micMode, int64_t preroll) const;
    void keystrokeDue(std::function<void()> post);
    void onWatchdog(int64_t serial);
    void startNextTranscription();
    void deliverResult(int64_t serial, DecodeOutcome outcome);
    void deliverFailure(int64_t serial);
    void applyEmptyTranscriptRule(std::optional<int64_t> diag);
    void pump();
    void schedulePoll();
    void pasteHead();
    void afterPaste(int64_t serial, const std::string& text, bool alreadyRead);
    void endReadWait(int64_t serial);
    void dropHead(const std::string& reason);
    void offerDidntPaste(const std::string& text, std::optional<int64_t> recentID);
    void restorePromptsClosedBy(int64_t serial);
    void updateState();
    void setOutcome(std::optional<int64_t> diag, const std::string& outcome);
    Job* findJob(int64_t serial);

    Collaborators m_deps;
    Logger m_log{"DictationPipeline"};

    std::optional<int64_t> m_heldReleaseSerial;
    std::optional<std::pair<int64_t, std::vector<DidntPastePrompt>>> m_windowClosedByPress;
    bool m_captureStarted = false;
    int64_t m_failedTranscriptionCount = 0;
    int64_t m_pressSerial = 0;
    int64_t m_prerollCount = 0;
    TimePoint m_pressStartedAt;
    bool m_restartedThisPress = false;
    CaptureStats m_statsAtKeyDown;
    bool m_isRecording = false;
    std::optional<int64_t> m_recordingDiag;
    std::deque<Job> m_jobs;
    std::optional<BackgroundTask> m_decodeTask;
    bool m_pasteInFlight = false;
    // The clipboard answers reads with the newest text, so the next paste
    // waits until the target has read the previous one (or a bound passes):
    // otherwise a slow target would get the later text twice.
    std::optional<int64_t> m_awaitingReadSerial;
    bool m_pollScheduled = false;
    // A paste keystroke held back while modifier keys are down (they would
    // join it), and since when.
    std::function<void()> m_heldKeystroke;
    TimePoint m_keystrokeHeldSince;
    std::function<void()> m_onQueueEmpty;
    bool m_pastesHeld = false;

    // Touched by the audio-delivery queue too: each behind its own lock.
    std::mutex m_buffersMutex;
    int64_t m_audioBuffersReceived = 0;
    std::mutex m_recordingMutex;
    RecordingState m_recordingState;
};

}  // namespace velmarune
