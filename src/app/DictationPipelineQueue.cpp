#include <algorithm>

#include "app/DictationPipeline.h"
#include "app/FrontChange.h"
#include "delivery/RecentDictations.h"
#include "diagnostics/PasteDiagnostics.h"
#include "foundation/Utf8.h"

// The queue side of the pipeline: one transcription at a time, results,
// and the paste loop that keeps spoken order.
namespace velmarune {

// Follows one dictation's paste for the pipeline, which it holds weakly.
class DictationPipeline::PasteWatch : public PasteObserver {
  public:
    PasteWatch(std::weak_ptr<DictationPipeline> pipeline, int64_t serial, std::string text,
               std::optional<int64_t> recentID)
        : m_pipeline(std::move(pipeline)),
          m_serial(serial),
          m_text(std::move(text)),
          m_recentID(recentID) {}

    void keystrokeDue(std::function<void()> post) override {
        if (auto pipeline = m_pipeline.lock()) {
            pipeline->keystrokeDue(std::move(post));
        } else {
            post();
        }
    }
    void keystrokePosted() override {
        if (auto pipeline = m_pipeline.lock()) {
            pipeline->afterPaste(m_serial, m_text, m_readSeen);
        }
    }
    void firstRead() override {
        m_readSeen = true;
        if (auto pipeline = m_pipeline.lock()) {
            pipeline->endReadWait(m_serial);
        }
    }
    void noRead() override {
        if (auto pipeline = m_pipeline.lock()) {
            pipeline->m_log.info("PASTE_NOT_READ: no app read the transcript");
            pipeline->offerDidntPaste(m_text, m_recentID);
        }
    }

  private:
    std::weak_ptr<DictationPipeline> m_pipeline;
    int64_t m_serial;
    std::string m_text;
    std::optional<int64_t> m_recentID;
    bool m_readSeen = false;
};

void DictationPipeline::startNextTranscription() {
    if (m_decodeTask) {
        return;
    }
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(), [](const Job& job) {
        return job.phase.kind == Job::Phase::Kind::waiting;
    });
    if (it == m_jobs.end()) {
        return;
    }
    it->phase = Job::Phase{Job::Phase::Kind::decoding, {}};
    if (it->diag && m_deps.diagnostics) {
        m_deps.diagnostics->setQueueWaitMs(it->diag, millisecondsBetween(it->releasedAt, now()));
    }
    std::weak_ptr<DictationPipeline> weak = weak_from_this();
    MainQueue* mainQueue = &m_deps.mainQueue;
    const int64_t serial = it->serial;
    const double seconds = it->seconds;
    m_decodeTask = BackgroundTask::start(m_deps.transcriptionExecutor, [weak, mainQueue, serial,
                                                                        seconds,
                                                                        samples = it->samples,
                                                                        decode = it->decode](
                                                                           const CancellationToken&
                                                                               token) {
        const Logger log{"DictationPipeline"};
        try {
            DecodeOutcome outcome;
            outcome.transcription = decode(*samples, token);
            const std::string& raw = outcome.transcription.text;
            outcome.cleaned = cleanUpTranscript(raw, seconds, outcome.transcription.segments);
            log.error(
                "Transcription returned length=%{public}ld, loop=%{public}s, collapsed=%{public}ld",
                utf8Characters(raw), outcome.cleaned.loop.value_or("pass"),
                outcome.cleaned.collapsedWords);
            if (token.isCancelled()) {
                log.info(
                    "transcribe Task cancelled mid-flight, discarding result length=%{public}ld",
                    utf8Characters(raw));
                return;
            }
            mainQueue->post([weak, serial, outcome = std::move(outcome)]() mutable {
                if (auto self = weak.lock()) {
                    self->deliverResult(serial, std::move(outcome));
                }
            });
        } catch (const std::exception& error) {
            // A decode stopped by its cancellation is no failure: its job is gone.
            if (token.isCancelled()) {
                log.info(
                    "transcribe Task cancelled mid-flight, discarding result length=%{public}ld",
                    0);
                return;
            }
            log.info("Transcription error: %{public}s", error.what());
            mainQueue->post([weak, serial] {
                if (auto self = weak.lock()) {
                    self->deliverFailure(serial);
                }
            });
        }
    });
}

DictationPipeline::Job* DictationPipeline::findJob(int64_t serial) {
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(),
                           [&](const Job& job) { return job.serial == serial; });
    return it == m_jobs.end() ? nullptr : &*it;
}

void DictationPipeline::deliverResult(int64_t serial, DecodeOutcome outcome) {
    m_decodeTask.reset();
    Job* job = findJob(serial);
    if (job == nullptr) {
        startNextTranscription();
        updateState();
        pump();
        return;
    }
    const Transcription& t = outcome.transcription;
    const std::string& text = outcome.cleaned.text;
    if (m_deps.diagnostics && job->diag) {
        DecodeFigures decode;
        decode.latencyMs = t.latencyMs;
        decode.segments = t.segments;
        decode.compressionRatio = outcome.cleaned.compressionRatio;
        decode.loop = outcome.cleaned.loop.value_or("pass");
        decode.collapsedWords = outcome.cleaned.collapsedWords;
        decode.lastSegment = t.lastSegment;
        std::optional<TrimFigures> trim;
        if (t.route) {
            trim = TrimFigures{t.route->floor, t.route->threshold, t.route->trimmedMs,
                               t.route->quietTailMs, t.route->zeroMs};
        }
        m_deps.diagnostics->markTranscribed(job->diag);
        m_deps.diagnostics->setRecognition(
            job->diag, t.route ? std::optional(t.route->language) : std::nullopt,
            t.route ? t.route->confidence : std::nullopt,
            t.route ? std::optional(t.route->slot) : std::nullopt, decode, trim,
            t.route ? std::optional(t.route->trimMs) : std::nullopt,
            t.route ? t.route->detectMs : std::nullopt, t.encodeMs);
        m_deps.diagnostics->setLength(job->diag, utf8Characters(text));
    }
    if (text.empty()) {
        const auto diag = job->diag;
        m_jobs.erase(std::find_if(m_jobs.begin(), m_jobs.end(),
                                  [&](const Job& j) { return j.serial == serial; }));
        applyEmptyTranscriptRule(diag);
    } else {
        m_failedTranscriptionCount = 0;
        m_deps.appState->lastTranscript.set(text);
        if (m_deps.recents) {
            job->recentID = m_deps.recents->add(text);
        }
        job->phase = Job::Phase{Job::Phase::Kind::ready, text};
        job->readyAt = now();
    }
    startNextTranscription();
    updateState();
    pump();
}

void DictationPipeline::applyEmptyTranscriptRule(std::optional<int64_t> diag) {
    setOutcome(diag, "empty transcript");
    ++m_failedTranscriptionCount;
    m_log.info("Empty transcription result (%{public}ld consecutive)", m_failedTranscriptionCount);
    if (m_failedTranscriptionCount >= kEmptyTranscriptLimit) {
        m_log.info("3 consecutive empty transcriptions — auto-resetting engine");
        m_failedTranscriptionCount = 0;
        if (m_deps.diagnostics) {
            m_deps.diagnostics->setPendingCancelReason("3 empty transcripts");
        }
        if (m_deps.appState->resetEngine) {
            m_deps.appState->resetEngine();
        }
    }
}

void DictationPipeline::deliverFailure(int64_t serial) {
    m_decodeTask.reset();
    if (Job* job = findJob(serial)) {
        const auto diag = job->diag;
        m_jobs.erase(std::find_if(m_jobs.begin(), m_jobs.end(),
                                  [&](const Job& j) { return j.serial == serial; }));
        setOutcome(diag, "transcription error");
    }
    startNextTranscription();
    updateState();
    pump();
}

void DictationPipeline::pump() {
    if (m_pastesHeld) {
        updateState();
        return;
    }
    if (m_heldKeystroke) {
        // The paste in flight waits for the keys too, but its text is already
        // promised: after the limit the keystroke goes anyway.
        if (modifiersHeld() &&
            secondsBetween(m_keystrokeHeldSince, now()) < kKeysHeldLimitSeconds) {
            updateState();
            schedulePoll();
            return;
        }
        // Posting it ends the paste (afterPaste), which runs this loop again.
        std::exchange(m_heldKeystroke, nullptr)();
        return;
    }
    for (;;) {
        if (m_pasteInFlight || m_awaitingReadSerial || m_jobs.empty() ||
            m_jobs.front().phase.kind != Job::Phase::Kind::ready) {
            updateState();
            return;
        }
        Job& head = m_jobs.front();
        if (m_isRecording) {
            // Nothing pastes while the user dictates again.
            if (head.keysHeldSince) {
                head.keysWaitedMs += millisecondsBetween(*head.keysHeldSince, now());
                head.keysHeldSince.reset();
            }
            updateState();
            schedulePoll();
            return;
        }
        if (modifiersHeld()) {
            if (!head.keysHeldSince) {
                head.keysHeldSince = now();
            }
            if (secondsBetween(*head.keysHeldSince, now()) < kKeysHeldLimitSeconds) {
                updateState();
                schedulePoll();
                return;
            }
            dropHead("keys held");
            continue;
        }
        if (head.keysHeldSince) {
            head.keysWaitedMs += millisecondsBetween(*head.keysHeldSince, now());
            head.keysHeldSince.reset();
        }
        if (frontChanged(head.frontAtRelease, head.activationsAtRelease,
                         m_deps.frontApplication.frontmost(),
                         m_deps.frontApplication.activationCount())) {
            dropHead("app changed");
            continue;
        }
        pasteHead();
        return;
    }
}

void DictationPipeline::schedulePoll() {
    if (m_pollScheduled) {
        return;
    }
    m_pollScheduled = true;
    std::weak_ptr<DictationPipeline> weak = weak_from_this();
    m_deps.mainQueue.postAfter(kPollIntervalSeconds, [weak] {
        if (auto self = weak.lock()) {
            self->m_pollScheduled = false;
            self->pump();
        }
    });
}

void DictationPipeline::pasteHead() {
    Job& head = m_jobs.front();
    m_pasteInFlight = true;
    updateState();
    m_log.info("-> pasting");
    if (m_deps.diagnostics) {
        m_deps.diagnostics->setPasteWait(
            head.diag, head.readyAt ? millisecondsBetween(*head.readyAt, now()) : 0,
            head.keysWaitedMs);
        m_deps.diagnostics->setPasting(head.diag);
    }
    m_deps.delivery.insert(head.phase.text, true,
                           std::make_shared<PasteWatch>(weak_from_this(), head.serial,
                                                        head.phase.text, head.recentID));
}

void DictationPipeline::keystrokeDue(std::function<void()> post) {
    // A chord pressed as the paste started (the next dictation) would join
    // the keystroke: Control+Shift+V is no paste.
    if (!modifiersHeld()) {
        post();
        return;
    }
    m_heldKeystroke = std::move(post);
    m_keystrokeHeldSince = now();
    schedulePoll();
}

void DictationPipeline::afterPaste(int64_t serial, const std::string& text, bool alreadyRead) {
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(),
                           [&](const Job& job) { return job.serial == serial; });
    std::optional<int64_t> diag;
    if (it != m_jobs.end()) {
        diag = it->diag;
        m_jobs.erase(it);
    }
    m_pasteInFlight = false;
    m_log.info("-> paste complete");
    m_deps.display.showTranscript(text);
    if (m_deps.diagnostics) {
        m_deps.diagnostics->markHudShown(diag);
    }
    if (!alreadyRead) {
        m_awaitingReadSerial = serial;
        std::weak_ptr<DictationPipeline> weak = weak_from_this();
        m_deps.mainQueue.postAfter(kReadWaitSeconds, [weak, serial] {
            if (auto self = weak.lock()) {
                self->endReadWait(serial);
            }
        });
    }
    updateState();
    pump();
}

void DictationPipeline::endReadWait(int64_t serial) {
    if (m_awaitingReadSerial == serial) {
        m_awaitingReadSerial.reset();
        pump();
    }
}

void DictationPipeline::dropHead(const std::string& reason) {
    Job job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_log.info("NOT_PASTED: %{public}s", reason);
    if (m_deps.diagnostics) {
        m_deps.diagnostics->setPasteWait(
            job.diag, job.readyAt ? millisecondsBetween(*job.readyAt, now()) : 0, job.keysWaitedMs);
    }
    setOutcome(job.diag, "not pasted: " + reason);
    offerDidntPaste(job.phase.text, job.recentID);
}

void DictationPipeline::offerDidntPaste(const std::string& text, std::optional<int64_t> recentID) {
    std::weak_ptr<DictationPipeline> weak = weak_from_this();
    DidntPastePrompt prompt;
    prompt.text = text;
    prompt.entryID = recentID;
    prompt.onPaste = [weak, text] {
        if (auto self = weak.lock()) {
            self->m_deps.delivery.insert(text, false, nullptr);
        }
    };
    prompt.onClose = [] {};
    m_deps.didntPaste.show(std::move(prompt));
}

void DictationPipeline::updateState() {
    AppState& state = *m_deps.appState;
    AppMode mode = AppMode::idle;
    if (m_isRecording) {
        mode = AppMode::dictating;
    } else if (m_pasteInFlight) {
        mode = AppMode::pasting;
    } else if (!m_jobs.empty()) {
        mode = AppMode::transcribing;
    }
    state.mode.set(mode);
    m_deps.capture->setRecording(m_isRecording);
    state.queuedDictations.set(static_cast<int64_t>(m_jobs.size()));
    state.waitingForKeys.set(!m_isRecording && !m_jobs.empty() &&
                             m_jobs.front().keysHeldSince.has_value());
    if (m_jobs.empty() && !m_pasteInFlight && m_onQueueEmpty) {
        auto callback = std::exchange(m_onQueueEmpty, {});
        callback();
    }
}

void DictationPipeline::setOutcome(std::optional<int64_t> diag, const std::string& outcome) {
    if (m_deps.diagnostics) {
        m_deps.diagnostics->setOutcome(diag, outcome);
    }
}

}  // namespace velmarune
