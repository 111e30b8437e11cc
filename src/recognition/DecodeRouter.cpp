#include "recognition/DecodeRouter.h"

#include <chrono>

#include "audio/TrailingSilence.h"
#include "models/ModelLocatorError.h"
#include "recognition/AutoRouter.h"
#include "recognition/WhisperEngineError.h"

namespace velmarune {

namespace {

constexpr int64_t kSampleRateHz = 16000;
constexpr float kTemperature = 0.0F;

int64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<int64_t>(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * 1000.0);
}

void throwIfCancelled(const CancellationToken& cancel) {
    if (cancel.isCancelled()) {
        throw DecodeCancelled();
    }
}

}  // namespace

std::shared_ptr<SpeechRecognizer> DecodeRouter::engine(ModelSlot slot) const {
    std::shared_ptr<SpeechRecognizer> found = m_engines ? m_engines(slot) : nullptr;
    if (!found) {
        throw ModelLocatorError::slotUnassigned(slot);
    }
    return found;
}

Transcription DecodeRouter::decode(const std::vector<float>& samples,
                                   const std::string& languageSetting, MicMode micMode,
                                   int64_t prerollCount, const CancellationToken& cancel) const {
    const auto trimStart = std::chrono::steady_clock::now();
    const std::vector<float> means = TrailingSilence::frameMeans(samples);
    TrailingSilence::Result trimmed = TrailingSilence::trim(samples, means, micMode, prerollCount);
    const int64_t zeroMs = TrailingSilence::zeroMs(means, prerollCount);

    Transcription::Route route;
    route.trimMs = millisecondsSince(trimStart);
    route.trimmedMs =
        static_cast<int64_t>(samples.size() - trimmed.samples.size()) * 1000 / kSampleRateHz;
    route.floor = trimmed.floor;
    route.threshold = trimmed.speechThreshold;
    route.quietTailMs = trimmed.quietTailMs;
    route.zeroMs = zeroMs;
    const std::vector<float>& audio = trimmed.samples;
    const float quiet = trimmed.speechThreshold;
    throwIfCancelled(cancel);

    Transcription result;
    if (languageSetting == "he") {
        const auto hebrew = engine(ModelSlot::hebrew);
        result = hebrew->transcribe(audio, "he", false, kTemperature, quiet, cancel);
        route.language = "he";
        route.slot = modelSlotRawValue(ModelSlot::hebrew);
    } else if (languageSetting == "en") {
        const auto multilingual = engine(ModelSlot::multilingual);
        result = multilingual->transcribe(audio, "en", true, kTemperature, quiet, cancel);
        route.language = "en";
        route.slot = modelSlotRawValue(ModelSlot::multilingual);
    } else {
        const auto multilingual = engine(ModelSlot::multilingual);
        DetectionResultBox box;
        const auto detectStart = std::chrono::steady_clock::now();
        const AutoRouter::Decision decision = AutoRouter::decide(audio, *multilingual, box);
        route.detectMs = millisecondsSince(detectStart);
        throwIfCancelled(cancel);

        const std::optional<LanguageDetection> detection = box.load();
        // An uncertain non-Hebrew detection decodes Hebrew with the English prompt.
        const bool englishPrompt = !detection || detection->code != "he";
        if (decision.useMultilingual) {
            result = multilingual->transcribe(audio, decision.language, englishPrompt, kTemperature,
                                              quiet, cancel);
            route.slot = modelSlotRawValue(ModelSlot::multilingual);
        } else {
            const auto hebrew = engine(ModelSlot::hebrew);
            result = hebrew->transcribe(audio, "he", englishPrompt, kTemperature, quiet, cancel);
            route.slot = modelSlotRawValue(ModelSlot::hebrew);
        }
        route.language = detection ? detection->code : decision.language;
        route.confidence = detection ? std::optional<float>(detection->confidence) : std::nullopt;
    }
    result.route = route;
    return result;
}

}  // namespace velmarune
