#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Task.h"
#include "recognition/SpeechRecognizer.h"
#include "recognition/Transcription.h"
#include "recognition/WhisperEngineError.h"

struct whisper_context;

namespace velmarune {

// Initial prompts: the product names in their Latin spelling, so the decoder
// keeps them intact inside Hebrew speech.
inline constexpr const char* kHebrewPrompt =
    "אתמול בערב עדכנתי את Velmarune בלפטופ, קראתי את המייל ש-Claude ניסח, תיקנתי פונקציה עם Claude "
    "Code ב-Cursor ובדקתי אותה ב-Codex, ואז קבענו שיחה ב-Zoom דרך WhatsApp.";
inline constexpr const char* kEnglishPrompt =
    "Velmarune, Claude, Claude Code, Codex, Cursor, WhatsApp, Zoom.";

// How a WhisperEngine decodes.
struct WhisperEngineOptions {
    // Decode on a GPU when whisper.cpp was built with a GPU backend and
    // finds a device; the CPU otherwise (logged).
    bool useGpu = true;
    bool flashAttention = true;
    // 0: one per physical core (at most 8).
    int threads = 0;
    // Read at every call: encode only the part of the 30 s window that
    // holds the audio (see audioContextFor). Null: off.
    std::function<bool()> fasterEncoder;
};

// One loaded whisper.cpp model. Calls on one engine are serialised (a
// decode and a detection never overlap); two engines are independent. The
// calls block their caller, so run them from a background task.
class WhisperEngine : public SpeechRecognizer {
  public:
    using Options = WhisperEngineOptions;

    // Checks the file in full (ModelFileError when it is damaged, not a
    // model, or not `expectedSize` bytes long) and only then loads it;
    // throws WhisperEngineError::modelLoadFailed when whisper.cpp refuses it.
    static std::shared_ptr<WhisperEngine> create(const std::filesystem::path& modelPath,
                                                 std::optional<int64_t> expectedSize = {},
                                                 Options options = {});
    ~WhisperEngine() override;
    WhisperEngine(const WhisperEngine&) = delete;
    WhisperEngine& operator=(const WhisperEngine&) = delete;

    // Decodes 16 kHz mono samples in `language`. `englishPrompt` picks the
    // English prompt (else the Hebrew one); `quietThreshold` selects the
    // last-segment rule (see LastSegmentCheck.h). Throws
    // WhisperEngineError::transcribeFailed, or DecodeCancelled when `cancel`
    // fires during the decode. whisper.cpp checks for cancellation after each
    // encoder pass and each decoder step, so the decode stops at the next one.
    Transcription transcribe(const std::vector<float>& samples, const std::string& language,
                             bool englishPrompt, float temperature, float quietThreshold,
                             const CancellationToken& cancel = {}) override;

    // Detects the language from the first 30 s. Throws
    // languageDetectionFailed / languageDetectionUnknownId.
    LanguageDetection detectLanguage(const std::vector<float>& samples) override;

    const std::filesystem::path& modelPath() const { return m_modelPath; }
    int64_t modelSize() const { return m_modelSize; }
    // The device that decodes: the GPU's description, or "CPU".
    const std::string& device() const { return m_device; }

  private:
    WhisperEngine(whisper_context* ctx, std::filesystem::path modelPath, int64_t modelSize,
                  Options options, std::string device);
    // The encoder's audio context for this call: 0 (the full window) unless
    // the faster encoder is on.
    int audioContext(size_t sampleCount) const;

    std::mutex m_mutex;  // serialises every use of m_ctx
    whisper_context* m_ctx;
    std::filesystem::path m_modelPath;
    int64_t m_modelSize;
    Options m_options;
    int m_threads;
    std::string m_device;
};

// Encoder positions for `sampleCount` samples of 16 kHz audio (50 a
// second) with a margin of a quarter, at least 1.28 s, rounded up to a
// multiple of 32 and at most the full window of 1500.
int audioContextFor(size_t sampleCount);

// Physical cores among `cpus` (logical CPU numbers), from the sibling lists
// under `sysCpu` (/sys/devices/system/cpu); a CPU without one counts alone.
int physicalCores(const std::filesystem::path& sysCpu, const std::vector<int>& cpus);

}  // namespace velmarune
