#pragma once

#include <cstdint>
#include <filesystem>
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

// One loaded whisper.cpp model. Calls on one engine are serialised (a
// decode and a detection never overlap); two engines are independent. The
// calls block their caller, so run them from a background task.
class WhisperEngine : public SpeechRecognizer {
  public:
    // Checks the file in full (ModelFileError when it is damaged, not a
    // model, or not `expectedSize` bytes long) and only then loads it;
    // throws WhisperEngineError::modelLoadFailed when whisper.cpp refuses it.
    static std::shared_ptr<WhisperEngine> create(const std::filesystem::path& modelPath,
                                                 std::optional<int64_t> expectedSize = {});
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

  private:
    WhisperEngine(whisper_context* ctx, std::filesystem::path modelPath, int64_t modelSize);

    std::mutex m_mutex;  // serialises every use of m_ctx
    whisper_context* m_ctx;
    std::filesystem::path m_modelPath;
    int64_t m_modelSize;
};

}  // namespace velmarune
