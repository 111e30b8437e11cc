#pragma once

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "recognition/SpeechRecognizer.h"
#include "recognition/WhisperEngineError.h"

namespace velmarune::testing {

// A speech engine that records how it was called and detects and transcribes
// as scripted: the next of `results`, else its name.
class ScriptedRecognizer : public SpeechRecognizer {
  public:
    struct Call {
        std::string language;
        bool englishPrompt;
        float quietThreshold;
        size_t sampleCount;
    };

    explicit ScriptedRecognizer(std::string name, LanguageDetection detection = {"he", 1.0F})
        : detection(std::move(detection)), m_name(std::move(name)) {}

    Transcription transcribe(const std::vector<float>& samples, const std::string& language,
                             bool englishPrompt, float /*temperature*/, float quietThreshold,
                             const CancellationToken&) override {
        calls.push_back({language, englishPrompt, quietThreshold, samples.size()});
        heard.push_back(samples);
        if (onTranscribe) {
            onTranscribe();
        }
        if (failTranscription) {
            throw std::runtime_error("engine exploded");
        }
        Transcription t;
        t.text = textFor ? textFor(samples) : m_name;
        if (!results.empty()) {
            t.text = results.front();
            results.pop_front();
        }
        t.latencyMs = latencyMs;
        t.segments = 1;
        return t;
    }
    LanguageDetection detectLanguage(const std::vector<float>& samples) override {
        detectedSampleCounts.push_back(samples.size());
        if (failDetection) {
            throw WhisperEngineError::languageDetectionFailed(-7);
        }
        return detection;
    }

    LanguageDetection detection;
    std::function<void()> onTranscribe;                             // e.g. to let virtual time pass
    std::function<std::string(const std::vector<float>&)> textFor;  // instead of the name
    std::vector<Call> calls;
    std::vector<std::vector<float>> heard;  // what each transcription was given
    std::vector<size_t> detectedSampleCounts;
    std::deque<std::string> results;
    int64_t latencyMs = 0;
    bool failDetection = false;
    bool failTranscription = false;

  private:
    std::string m_name;
};

}  // namespace velmarune::testing
