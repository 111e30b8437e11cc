#include "app/DictationPipeline.h"

#include <algorithm>
#include <cmath>

#include "audio/SpeechGate.h"
#include "delivery/RecentDictations.h"
#include "diagnostics/PasteDiagnostics.h"
#include "hotkeys/PasteShortcut.h"
#include "keys/ModifierCombo.h"
#include "recognition/DecodeRouter.h"

namespace velmarune {

namespace {

// A counter difference since key-down, counted from zero when the capture was
// restarted (its counters start again) or the counter went backwards.
int64_t sinceKeyDown(int64_t now, int64_t atKeyDown, bool restarted) {
    return (restarted || now < atKeyDown) ? now : now - atKeyDown;
}

}  // namespace

std::shared_ptr<DictationPipeline> DictationPipeline::create(Collaborators collaborators) {
    auto pipeline =
        std::shared_ptr<DictationPipeline>(new DictationPipeline(std::move(collaborators)));
    pipeline->installCaptureCallbacks();
    return pipeline;
}

DictationPipeline::DictationPipeline(Collaborators collaborators)
    : m_deps(std::move(collaborators)), m_pressStartedAt(m_deps.mainQueue.now()) {}

void DictationPipeline::installCaptureCallbacks() {
    std::weak_ptr<DictationPipeline> weak = weak_from_this();
    m_deps.capture->setOnBufferReceived([weak] {
        if (auto self = weak.lock()) {
            std::lock_guard lock(self->m_buffersMutex);
            ++self->m_audioBuffersReceived;
        }
    });
    m_deps.capture->setOnSamplesAppended(
        [weak](const float* samples, size_t count, int64_t firstFrame) {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            std::lock_guard lock(self->m_recordingMutex);
            RecordingState& recording = self->m_recordingState;
            if (!recording.isActive) {
                return;
            }
            // A block appended before the press read the pre-roll but handed over
            // after it is partly or wholly in the pre-roll already.
            const auto skip = static_cast<size_t>(std::clamp<int64_t>(
                recording.fromFrame - firstFrame, 0, static_cast<int64_t>(count)));
            recording.samples.insert(recording.samples.end(), samples + skip, samples + count);
        });
}

void DictationPipeline::startCapture() {
    if (m_captureStarted) {
        return;
    }
    m_captureStarted = true;
    m_deps.capture->start();
    m_log.info("capture engine started (always-on pre-buffer)");
}

void DictationPipeline::press() {
    if (m_isRecording) {
        m_log.info("PTT_ACTIVE ignored, already recording");
        return;
    }
    int64_t prerollCount = 0;
    {
        // The pre-roll is read and the recording switched on under the lock
        // the delivery queue takes for every block, so each block lands
        // before the hand-over (in the pre-roll) or after it (recorded from
        // the pre-roll's end): none lost between the two, none doubled.
        std::lock_guard lock(m_recordingMutex);
        RingTail preroll = m_deps.capture->ringTail(kPrerollSamples);
        prerollCount = static_cast<int64_t>(preroll.samples.size());
        m_recordingState.samples = std::move(preroll.samples);
        m_recordingState.samples.reserve(kRecordingReserveSamples);
        m_recordingState.fromFrame = preroll.endFrame;
        m_recordingState.isActive = true;
    }
    {
        std::lock_guard lock(m_buffersMutex);
        m_audioBuffersReceived = 0;
    }
    ++m_pressSerial;
    m_prerollCount = prerollCount;
    m_pressStartedAt = now();
    m_restartedThisPress = false;
    m_statsAtKeyDown = m_deps.capture->statsSnapshot();

    m_isRecording = true;
    updateState();

    m_recordingDiag = m_deps.diagnostics ? m_deps.diagnostics->begin() : std::nullopt;
    m_deps.delivery.prepare();
    m_log.error(
        "PTT_ACTIVE: queued=%{public}ld, captureRunning=%{bool,public}d, prerollFrames=%{public}ld",
        m_jobs.size(), m_deps.capture->isRunning(), m_prerollCount);

    std::weak_ptr<DictationPipeline> weak = weak_from_this();
    const int64_t serial = m_pressSerial;
    m_deps.mainQueue.postAfter(kWatchdogDelaySeconds, [weak, serial] {
        if (auto self = weak.lock()) {
            self->onWatchdog(serial);
        }
    });
}

void DictationPipeline::onWatchdog(int64_t serial) {
    if (m_pressSerial != serial || !m_isRecording) {
        return;
    }
    {
        std::lock_guard lock(m_buffersMutex);
        if (m_audioBuffersReceived != 0) {
            return;
        }
    }
    const CaptureStats stats = m_deps.capture->statsSnapshot();
    m_log.info(
        "WATCHDOG: 0 buffers within %{public}llu ms of PTT_ACTIVE (dropped=%{public}ld, "
        "formatChanges=%{public}ld) - restarting capture once",
        uint64_t{500}, stats.dropped, stats.formatChanges);
    m_restartedThisPress = true;
    m_deps.capture->restart();
}

void DictationPipeline::release(bool cancellableByPasteLast) {
    if (!m_isRecording) {
        m_log.info("PTT_RELEASED ignored, not recording");
        return;
    }
    m_isRecording = false;
    m_deps.appState->lastPTTReleaseTime = now();
    const std::optional<std::string> frontAtRelease = m_deps.frontApplication.frontmost();
    const uint64_t activationsAtRelease = m_deps.frontApplication.activationCount();
    if (m_deps.diagnostics) {
        m_deps.diagnostics->markKeyUp(m_recordingDiag, frontAtRelease);
    }
    int64_t buffersReceived = 0;
    {
        std::lock_guard lock(m_buffersMutex);
        buffersReceived = m_audioBuffersReceived;
    }
    Samples samples;
    {
        std::lock_guard lock(m_recordingMutex);
        samples = std::move(m_recordingState.samples);
        m_recordingState.samples = Samples();
        m_recordingState.isActive = false;
    }
    const int64_t sampleCount = static_cast<int64_t>(samples.size());
    const double seconds = static_cast<double>(sampleCount) / kSampleRateHz;
    m_log.error(
        "PTT_RELEASED: samples=%{public}ld, duration=%{public}f, buffersReceived=%{public}ld",
        sampleCount, seconds, buffersReceived);

    const GateOutcome gate = speechGate(SpeechGateInput{
        samples, buffersReceived, m_prerollCount, m_restartedThisPress, m_pressStartedAt, now()});
    const MicMode micMode = m_deps.capture->micMode();
    const int64_t preroll = std::clamp<int64_t>(m_prerollCount, 0, sampleCount);
    if (m_deps.diagnostics) {
        const CaptureStats stats = m_deps.capture->statsSnapshot();
        PressAudio audio;
        audio.device = m_deps.capture->deviceName();
        audio.sourceRate = stats.sourceSampleRate;
        audio.sourceChannels = stats.sourceChannels;
        audio.sourceType = stats.sourceSampleType;
        audio.buffers =
            sinceKeyDown(stats.converted, m_statsAtKeyDown.converted, m_restartedThisPress);
        audio.dropped = sinceKeyDown(stats.dropped, m_statsAtKeyDown.dropped, m_restartedThisPress);
        audio.formatChanges =
            sinceKeyDown(stats.formatChanges, m_statsAtKeyDown.formatChanges, m_restartedThisPress);
        audio.captureRestarted = m_restartedThisPress;
        audio.newAudioMs = (sampleCount - preroll) * 1000 / 16000;
        double sumSquares = 0;
        float peak = 0;
        for (int64_t i = preroll; i < sampleCount; ++i) {
            const float x = samples[static_cast<size_t>(i)];
            sumSquares += static_cast<double>(x) * x;
            peak = std::max(peak, std::fabs(x));
        }
        const int64_t newCount = sampleCount - preroll;
        audio.rms = newCount > 0
                        ? static_cast<float>(std::sqrt(sumSquares / static_cast<double>(newCount)))
                        : 0.0f;
        audio.peak = peak;
        audio.gate = gateOutcomeText(gate);
        audio.micMode = micModeLogValue(micMode);
        m_deps.diagnostics->setAudio(m_recordingDiag, audio);
    }

    const auto finishRejected = [this] {
        updateState();
        pump();
    };
    switch (gate) {
        case GateOutcome::noNewAudio:
            m_log.info("NO_AUDIO: 0 buffers, capture restarted=%{bool,public}d - not transcribing",
                       m_restartedThisPress);
            setOutcome(m_recordingDiag, "no new audio");
            m_deps.display.showNotice(
                "Microphone isn't sending audio. Check Settings > Audio, or quit and reopen "
                "Velmarune.",
                kNoticeSeconds);
            return finishRejected();
        case GateOutcome::tap:
            m_log.info("TAP: new samples=%{public}ld - ignored", sampleCount - preroll);
            setOutcome(m_recordingDiag, "tap");
            return finishRejected();
        case GateOutcome::silentInput: {
            const auto device = m_deps.capture->deviceName();
            m_log.info(
                "SILENT_INPUT: device=%{public}s - not transcribing, choosing the input again",
                device.value_or(""));
            setOutcome(m_recordingDiag, "silent input");
            m_deps.display.showNotice(
                "No sound from " + device.value_or("the microphone") + ". Check Settings > Audio.",
                kNoticeSeconds);
            m_deps.capture->reselectInput();
            return finishRejected();
        }
        case GateOutcome::silence:
            m_log.info("SILENCE_GATE: meanAbs=%{public}f < %{public}f, skipping transcription",
                       meanAbsolute(samples), kGateSilenceMeanAbs);
            if (m_deps.diagnostics) {
                m_deps.diagnostics->setLength(m_recordingDiag, 0);
            }
            applyEmptyTranscriptRule(m_recordingDiag);
            return finishRejected();
        case GateOutcome::pass:
            break;
    }

    std::optional<DecodeFunction> decode = decoderFor(micMode, m_prerollCount);
    if (!decode) {
        m_log.error("PTT_RELEASED: bootstrap nil, not transcribing");
        setOutcome(m_recordingDiag, "no engine");
        return finishRejected();
    }
    if (m_jobs.size() >= kQueueLimit) {
        m_log.error("QUEUE_FULL: %{public}ld waiting - press not kept", m_jobs.size());
        setOutcome(m_recordingDiag, "queue full");
        m_deps.display.showNotice("Too many dictations waiting. This one wasn't kept.",
                                  kNoticeSeconds);
        return finishRejected();
    }
    if (!cancellableByPasteLast && m_deps.diagnostics) {
        m_deps.diagnostics->setQueuedAhead(m_recordingDiag, static_cast<int64_t>(m_jobs.size()));
    }
    // A kept dictation closes the didn't-paste prompt; remember what it closed
    // so a cancelled press can bring it back.
    m_windowClosedByPress.emplace(m_pressSerial, m_deps.didntPaste.dismiss());

    Job job;
    job.serial = m_pressSerial;
    job.diag = m_recordingDiag;
    job.samples = std::make_shared<const Samples>(std::move(samples));
    job.seconds = seconds;
    job.decode = std::move(*decode);
    job.frontAtRelease = frontAtRelease;
    job.activationsAtRelease = activationsAtRelease;
    job.releasedAt = now();
    job.cancellableByPasteLast = cancellableByPasteLast;
    const size_t ahead = m_jobs.size();
    m_jobs.push_back(std::move(job));
    m_log.info("-> queued, samples=%{public}ld, mode=%{public}s, ahead=%{public}ld", sampleCount,
               appModeRawValue(m_deps.appState->mode.get()), ahead);

    startNextTranscription();
    updateState();
    pump();
}

std::optional<DecodeFunction> DictationPipeline::decoderFor(MicMode micMode,
                                                            int64_t preroll) const {
    const std::string setting = m_deps.defaults.stringValue("pttLanguage").value_or("auto");
    const std::string language = (setting == "he" || setting == "en") ? setting : "auto";
    // The engines of this moment: a reset may replace them while the
    // dictation waits, and the decode keeps the ones it started with.
    std::shared_ptr<SpeechRecognizer> hebrew = m_deps.appState->hebrewEngine;
    std::shared_ptr<SpeechRecognizer> multilingual = m_deps.appState->multilingualEngine;
    if (!hebrew && !multilingual) {
        return std::nullopt;
    }
    auto router = std::make_shared<DecodeRouter>([hebrew, multilingual](ModelSlot slot) {
        return slot == ModelSlot::hebrew ? hebrew : multilingual;
    });
    return DecodeFunction([router, language, micMode, preroll](const Samples& samples,
                                                               const CancellationToken& token) {
        return router->decode(samples, language, micMode, preroll, token);
    });
}

bool DictationPipeline::modifiersHeld() const {
    return (m_deps.keys.combinedFlags() & kModifierMask) != 0;
}

void DictationPipeline::pushToTalkReleasedByAddedModifier(uint64_t flags) {
    const auto shortcut = PasteShortcut::load(m_deps.defaults);
    if (shortcut && shortcut->modifiers.rawValue == (flags & kModifierMask)) {
        holdForPasteLast();
    } else {
        release(false);
    }
}

void DictationPipeline::holdForPasteLast() {
    if (!m_isRecording) {
        return;
    }
    {
        std::lock_guard lock(m_recordingMutex);
        m_recordingState.isActive = false;
    }
    const int64_t serial = m_pressSerial;
    m_heldReleaseSerial = serial;
    std::weak_ptr<DictationPipeline> weak = weak_from_this();
    m_deps.mainQueue.postAfter(kPasteLastHoldSeconds, [weak, serial] {
        auto self = weak.lock();
        if (!self || self->m_heldReleaseSerial != serial || self->m_pressSerial != serial ||
            !self->m_isRecording) {
            return;
        }
        self->m_heldReleaseSerial.reset();
        self->release(true);
    });
}

void DictationPipeline::cancelForPasteLast() {
    if (m_isRecording) {
        {
            std::lock_guard lock(m_recordingMutex);
            m_recordingState.isActive = false;
            m_recordingState.samples = Samples();
        }
        m_heldReleaseSerial.reset();
        m_isRecording = false;
        setOutcome(m_recordingDiag, "cancelled by Paste Last Dictation");
        m_log.info("PASTE_LAST: dictation press cancelled");
        restorePromptsClosedBy(m_pressSerial);
        updateState();
        return;
    }
    auto newest = std::find_if(m_jobs.rbegin(), m_jobs.rend(),
                               [](const Job& job) { return job.cancellableByPasteLast; });
    if (newest == m_jobs.rend()) {
        updateState();
        return;
    }
    const Job job = *newest;
    m_jobs.erase(std::next(newest).base());
    if (job.phase.kind == Job::Phase::Kind::decoding && m_decodeTask) {
        m_decodeTask->cancel();
        m_decodeTask.reset();
    }
    setOutcome(job.diag, "cancelled by Paste Last Dictation");
    m_log.info("PASTE_LAST: queued press cancelled");
    restorePromptsClosedBy(job.serial);
    startNextTranscription();
    // The cancelled job may have been the head: let the next one paste.
    pump();
}

void DictationPipeline::restorePromptsClosedBy(int64_t serial) {
    if (m_windowClosedByPress && m_windowClosedByPress->first == serial) {
        auto prompts = std::move(m_windowClosedByPress->second);
        m_windowClosedByPress.reset();
        if (!prompts.empty()) {
            m_deps.didntPaste.restore(std::move(prompts));
        }
    }
}

void DictationPipeline::stopEverything() {
    std::vector<int64_t> abandoned;
    if (m_isRecording && m_recordingDiag) {
        abandoned.push_back(*m_recordingDiag);
    }
    for (const Job& job : m_jobs) {
        if (job.diag) {
            abandoned.push_back(*job.diag);
        }
    }
    if (m_deps.diagnostics) {
        m_deps.diagnostics->cancel(abandoned);
    }
    {
        std::lock_guard lock(m_recordingMutex);
        m_recordingState.samples = Samples();
        m_recordingState.isActive = false;
    }
    m_isRecording = false;
    if (m_decodeTask) {
        m_decodeTask->cancel();
        m_decodeTask.reset();
    }
    m_jobs.clear();
    m_pastesHeld = false;
    m_awaitingReadSerial.reset();
    m_deps.capture->stop();
    m_deps.capture->resetRing();
    updateState();
    m_log.info("stopEverything invoked");
}

void DictationPipeline::discardQueue(const std::string& reason) {
    if (m_jobs.empty()) {
        return;
    }
    m_log.info("queue discarded (%{public}s): %{public}ld dictations", reason, m_jobs.size());
    for (const Job& job : m_jobs) {
        setOutcome(job.diag, "discarded: " + reason);
    }
    if (m_decodeTask) {
        m_decodeTask->cancel();
        m_decodeTask.reset();
    }
    m_jobs.clear();
    updateState();
}

void DictationPipeline::prepareForCapture() {
    m_deps.capture->restart();
    m_log.info("prepareForCapture: capture restarted");
}

void DictationPipeline::forceMode(AppMode mode) {
    m_log.info("forceMode override: %{public}s -> %{public}s",
               appModeRawValue(m_deps.appState->mode.get()), appModeRawValue(mode));
    m_deps.appState->mode.set(mode);
}

void DictationPipeline::setPastesHeld(bool held) {
    m_pastesHeld = held;
}

void DictationPipeline::waitForFront(std::optional<std::string> target, TimePoint deadline) {
    if (!m_pastesHeld) {
        return;
    }
    if (!target || m_deps.frontApplication.frontmost() == target || now() >= deadline) {
        m_pastesHeld = false;
        pump();
        return;
    }
    std::weak_ptr<DictationPipeline> weak = weak_from_this();
    m_deps.mainQueue.postAfter(kPollIntervalSeconds, [weak, target, deadline] {
        if (auto self = weak.lock()) {
            self->waitForFront(target, deadline);
        }
    });
}

void DictationPipeline::setOnQueueEmpty(std::function<void()> callback) {
    m_onQueueEmpty = std::move(callback);
}

}  // namespace velmarune
