#pragma once

#include <string>
#include <vector>

#include "foundation/Task.h"
#include "recognition/Transcription.h"

namespace velmarune {

// The spoken language as the recognizer detected it.
struct LanguageDetection {
    std::string code;      // ISO code as whisper.cpp names it ("he", "en")
    float confidence = 0;  // probability of that language, 0 ... 1

    bool operator==(const LanguageDetection&) const = default;
};

// What the routing needs from a loaded speech engine: WhisperEngine in the
// product, scripted doubles in tests. Calls block the calling thread.
class SpeechRecognizer {
  public:
    virtual ~SpeechRecognizer() = default;
    virtual Transcription transcribe(const std::vector<float>& samples, const std::string& language,
                                     bool englishPrompt, float temperature, float quietThreshold,
                                     const CancellationToken& cancel) = 0;
    virtual LanguageDetection detectLanguage(const std::vector<float>& samples) = 0;
};

}  // namespace velmarune
