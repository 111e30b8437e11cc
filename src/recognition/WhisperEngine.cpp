#include "recognition/WhisperEngine.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>

#include <ggml-backend.h>
#include <whisper.h>

#include "foundation/Log.h"
#include "models/ModelFileCheck.h"
#include "recognition/EngineSettings.h"
#include "recognition/GgmlCpuBackend.h"
#include "recognition/LastSegmentCheck.h"

namespace velmarune {

namespace {

const Logger log{"WhisperEngine"};

constexpr size_t kMinimumSamples = 16000;

constexpr int kMaxThreads = 8;
constexpr int kFullAudioContext = 1500;      // one 30 s window
constexpr size_t kSamplesPerPosition = 320;  // 16 kHz audio, 50 encoder positions a second

// One thread per physical core: a second thread on a core's sibling
// competes for the same vector units and slows whisper's matrix work.
int defaultThreadCount() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set)) {
                cpus.push_back(cpu);
            }
        }
    }
    int cores = cpus.empty() ? 0 : physicalCores("/sys/devices/system/cpu", cpus);
    if (cores <= 0) {
        cores = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
    }
    return std::min(cores, kMaxThreads);
}

// whisper.cpp reports a GPU it found but could not start only in its log;
// the load that is under way listens for it.
thread_local bool* t_gpuStartFailed = nullptr;

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
    if (t_gpuStartFailed != nullptr &&
        line.find("failed to initialize") != std::string_view::npos) {
        *t_gpuStartFailed = true;
    }
}

// The GPU whisper.cpp will take (its first), or nothing.
std::optional<std::string> firstGpu() {
    for (size_t i = 0; i < ggml_backend_dev_count(); ++i) {
        ggml_backend_dev_t device = ggml_backend_dev_get(i);
        const auto type = ggml_backend_dev_type(device);
        if (type == GGML_BACKEND_DEVICE_TYPE_GPU || type == GGML_BACKEND_DEVICE_TYPE_IGPU) {
            const char* description = ggml_backend_dev_description(device);
            return std::string(description != nullptr && *description != '\0'
                                   ? description
                                   : ggml_backend_dev_name(device));
        }
    }
    return std::nullopt;
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

std::optional<std::string> gpuBackendName() {
#ifdef VELMARUNE_GPU_BACKEND
    return std::string(VELMARUNE_GPU_BACKEND);
#else
    return std::nullopt;
#endif
}

std::shared_ptr<WhisperEngine> WhisperEngine::create(const std::filesystem::path& modelPath,
                                                     std::optional<int64_t> expectedSize,
                                                     Options options) {
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
    std::optional<std::string> gpu = options.useGpu ? firstGpu() : std::nullopt;
    if (const auto backend = gpuBackendName(); options.useGpu && !gpu && backend) {
        log.info("No %{public}s device found; the speech engine runs on the CPU", *backend);
    }
    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = gpu.has_value();
    params.flash_attn = options.flashAttention;
    bool gpuStartFailed = false;
    t_gpuStartFailed = &gpuStartFailed;
    whisper_context* ctx = whisper_init_from_file_with_params(modelPath.c_str(), params);
    if (ctx == nullptr && gpu) {
        // A driver that fails part-way (memory, an unsupported operation)
        // must not cost the user the dictation: the CPU always works.
        log.error("The model did not load on the GPU (%{public}s); loading it for the CPU", *gpu);
        params.use_gpu = false;
        gpu.reset();
        ctx = whisper_init_from_file_with_params(modelPath.c_str(), params);
    }
    t_gpuStartFailed = nullptr;
    if (ctx == nullptr) {
        throw WhisperEngineError::modelLoadFailed(modelPath.string());
    }
    if (gpu && gpuStartFailed) {
        log.error("The GPU %{public}s did not start; the speech engine runs on the CPU", *gpu);
        gpu.reset();
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(modelPath, error);
    const int64_t modelSize = error ? 0 : static_cast<int64_t>(size);
    const std::string device = gpu.value_or("CPU");
    std::shared_ptr<WhisperEngine> engine(
        new WhisperEngine(ctx, modelPath, modelSize, std::move(options), device));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    log.info("Model loaded in %{public}fs from %{public}s (%{public}lld bytes)", seconds,
             modelPath.string(), modelSize);
    log.info("Speech engine on %{public}s with %{public}d threads", device, engine->m_threads);
    return engine;
}

WhisperEngine::WhisperEngine(whisper_context* ctx, std::filesystem::path modelPath,
                             int64_t modelSize, Options options, std::string device)
    : m_ctx(ctx),
      m_modelPath(std::move(modelPath)),
      m_modelSize(modelSize),
      m_options(std::move(options)),
      m_threads(m_options.threads > 0 ? m_options.threads : defaultThreadCount()),
      m_device(std::move(device)) {}

int WhisperEngine::audioContext(size_t sampleCount) const {
    return m_options.fasterEncoder && m_options.fasterEncoder() ? audioContextFor(sampleCount) : 0;
}

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
    params.n_threads = m_threads;
    params.audio_ctx = audioContext(input.size());
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
    const int threads = m_threads;
    // Detection encodes with the audio context of the context's last
    // whisper_full, which only whisper_full sets. So a whisper_full computes
    // the mel and sets this call's context, and stops before its encoder;
    // detection then encodes once, as wide as the transcription will.
    whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = threads;
    params.audio_ctx = audioContext(input.size());
    params.language = "en";
    params.print_progress = false;
    params.encoder_begin_callback = [](whisper_context*, whisper_state*, void*) { return false; };
    const int melResult = whisper_full(m_ctx, params, input.data(), static_cast<int>(input.size()));
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

int audioContextFor(size_t sampleCount) {
    const size_t needed = (sampleCount + kSamplesPerPosition - 1) / kSamplesPerPosition;
    const size_t withMargin = needed + std::max<size_t>(64, needed / 4);
    const size_t rounded = (withMargin + 31) / 32 * 32;
    return static_cast<int>(std::min<size_t>(rounded, kFullAudioContext));
}

int physicalCores(const std::filesystem::path& sysCpu, const std::vector<int>& cpus) {
    std::set<std::string> cores;
    for (int cpu : cpus) {
        std::ifstream siblings(sysCpu / ("cpu" + std::to_string(cpu)) / "topology" /
                               "thread_siblings_list");
        std::string list;
        if (!std::getline(siblings, list) || list.empty()) {
            list = "alone:" + std::to_string(cpu);
        }
        cores.insert(list);
    }
    return static_cast<int>(cores.size());
}

}  // namespace velmarune
