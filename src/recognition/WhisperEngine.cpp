#include "recognition/WhisperEngine.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include <whisper.h>

#include "foundation/Log.h"
#include "models/ModelFileCheck.h"
#include "recognition/GgmlCpuBackend.h"
#include "recognition/LastSegmentCheck.h"

namespace velmarune {

namespace {

const Logger log{"WhisperEngine"};

constexpr size_t kMinimumSamples = 16000;

int threadCount() {
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    return static_cast<int>(std::min(cores, 8U));
}

// whisper.cpp reads past the end of very short buffers and returns nothing
// under 0.1 s; it pads every window to 30 s with zeros anyway, so padding a
// short input to 1 s changes no result.
const std::vector<float>& paddedForWhisper(const std::vector<float>& samples,
                                           std::vector<float>& storage) {
    if (samples.empty() || samples.size() >= kMinimumSamples) {
        return samples;
    }
    storage = samples;
    storage.resize(kMinimumSamples, 0.0F);
    return storage;
}

void forwardWhisperLog(ggml_log_level /*level*/, const char* text, void* /*userData*/) {
    if (text == nullptr) {
        return;
    }
    std::string_view line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (!line.empty()) {
        log.debug("%{public}s", std::string(line));
    }
}

void routeWhisperLogOnce() {
    static std::once_flag once;
    std::call_once(once, [] { whisper_log_set(forwardWhisperLog, nullptr); });
}

int64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace

std::shared_ptr<WhisperEngine> WhisperEngine::create(const std::filesystem::path& modelPath,
                                                     std::optional<int64_t> expectedSize) {
    routeWhisperLogOnce();
    // Without CPU code ggml aborts the process inside whisper_init.
    if (const auto problem = loadGgmlCpuBackendOnce()) {
        throw WhisperEngineError::engineCodeMissing(*problem);
    }
    const auto start = std::chrono::steady_clock::now();
    // whisper.cpp's loader believes every count in the file: a damaged or
    // hostile one crashes the process or eats memory. Only a file that
    // passes the full check reaches it.
    checkModelFile(modelPath, expectedSize);
    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = true;
    params.flash_attn = true;
    whisper_context* ctx = whisper_init_from_file_with_params(modelPath.c_str(), params);
    if (ctx == nullptr) {
        throw WhisperEngineError::modelLoadFailed(modelPath.string());
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(modelPath, error);
    const int64_t modelSize = error ? 0 : static_cast<int64_t>(size);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    log.info("Model loaded in %{public}fs from %{public}s (%{public}lld bytes)", seconds,
             modelPath.string(), modelSize);
    return std::shared_ptr<WhisperEngine>(new WhisperEngine(ctx, modelPath, modelSize));
}

WhisperEngine::WhisperEngine(whisper_context* ctx, std::filesystem::path modelPath,
                             int64_t modelSize)
    : m_ctx(ctx), m_modelPath(std::move(modelPath)), m_modelSize(modelSize) {}

WhisperEngine::~WhisperEngine() {
    whisper_free(m_ctx);
}

Transcription WhisperEngine::transcribe(const std::vector<float>& samples,
                                        const std::string& language, bool englishPrompt,
                                        float temperature, float quietThreshold,
                                        const CancellationToken& cancel) {
    Transcription result;
    if (samples.empty()) {
        result.segments = 0;
        return result;
    }
    if (samples.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw WhisperEngineError::transcribeFailed(-1);
    }
    std::vector<float> storage;
    const std::vector<float>& input = paddedForWhisper(samples, storage);

    std::lock_guard lock(m_mutex);
    const auto start = std::chrono::steady_clock::now();
    whisper_reset_timings(m_ctx);

    whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = threadCount();
    params.translate = false;
    params.no_context = true;
    params.print_special = false;
    params.print_progress = false;
    params.print_realtime = false;
    params.print_timestamps = false;
    // Copies that live until the call returns, also when it fails.
    const std::string prompt = englishPrompt ? kEnglishPrompt : kHebrewPrompt;
    const std::string languageCode = language;
    params.initial_prompt = prompt.c_str();
    params.carry_initial_prompt = false;  // the prompt conditions the first window only
    params.language = languageCode.c_str();
    params.detect_language = false;
    params.suppress_nst = true;
    params.temperature = temperature;
    params.abort_callback = [](void* data) {
        return static_cast<const CancellationToken*>(data)->isCancelled();
    };
    params.abort_callback_user_data = const_cast<CancellationToken*>(&cancel);

    const int rc = whisper_full(m_ctx, params, input.data(), static_cast<int>(input.size()));
    if (cancel.isCancelled()) {
        throw DecodeCancelled();
    }
    if (rc != 0) {
        throw WhisperEngineError::transcribeFailed(rc);
    }

    const int n = whisper_full_n_segments(m_ctx);
    std::string text;
    for (int i = 0; i < n; ++i) {
        const char* segment = whisper_full_get_segment_text(m_ctx, i);
        if (segment == nullptr) {
            continue;
        }
        if (i < n - 1) {
            text += segment;
            continue;
        }
        // The check looks at the caller's audio, not the padding.
        const LastSegmentDecision decision = judgeLastSegment(
            samples, whisper_full_get_segment_t0(m_ctx, i), whisper_full_get_segment_t1(m_ctx, i),
            whisper_full_get_segment_no_speech_prob(m_ctx, i), params.no_speech_thold,
            quietThreshold);
        result.lastSegment = decision.outcome;
        if (decision.keep) {
            text += segment;
        } else {
            log.info("dropped the last segment: %{public}s", decision.outcome);
        }
    }
    result.latencyMs = millisecondsSince(start);
    if (whisper_timings* timings = whisper_get_timings(m_ctx)) {
        result.encodeMs = static_cast<int64_t>(timings->encode_ms);
        delete timings;  // whisper.cpp allocates it with new and hands it over
    }
    result.segments = n;
    log.info(
        "Transcribed %{public}ld samples in %{public}ld ms, %{public}d segments, lang=%{public}s, "
        "T=%{public}f",
        static_cast<int64_t>(samples.size()), result.latencyMs, n, language, temperature);

    const auto isSpace = [](char c) {
        return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    result.text = first < last ? std::string(first, last) : std::string();
    return result;
}

LanguageDetection WhisperEngine::detectLanguage(const std::vector<float>& samples) {
    if (samples.empty()) {
        return {"en", 1.0F};
    }
    if (samples.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw WhisperEngineError::languageDetectionFailed(-1);
    }
    std::vector<float> storage;
    const std::vector<float>& input = paddedForWhisper(samples, storage);

    std::lock_guard lock(m_mutex);
    const int threads = threadCount();
    const int melResult =
        whisper_pcm_to_mel(m_ctx, input.data(), static_cast<int>(input.size()), threads);
    if (melResult != 0) {
        throw WhisperEngineError::languageDetectionFailed(melResult);
    }
    std::vector<float> probabilities(static_cast<size_t>(whisper_lang_max_id()) + 1, 0.0F);
    const int id = whisper_lang_auto_detect(m_ctx, 0, threads, probabilities.data());
    if (id < 0) {
        throw WhisperEngineError::languageDetectionFailed(id);
    }
    const char* code = whisper_lang_str(id);
    if (code == nullptr || static_cast<size_t>(id) >= probabilities.size()) {
        throw WhisperEngineError::languageDetectionUnknownId(id);
    }
    const float confidence = probabilities[static_cast<size_t>(id)];
    log.error("LANG_DETECT: id=%{public}d iso=%{public}s p=%{public}f samples=%{public}ld", id,
              code, confidence, static_cast<int64_t>(samples.size()));
    return {code, confidence};
}

}  // namespace velmarune
