#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/MicMode.h"
#include "foundation/Task.h"
#include "models/ModelSlot.h"
#include "recognition/SpeechRecognizer.h"
#include "recognition/Transcription.h"

namespace velmarune {

// The decode step of one dictation: trims the recording's quiet tail, picks
// engine, language and prompt from the dictation-language setting (running
// detection in Auto), transcribes and records the route. Stateless; the
// engines are looked up at the moment they are needed, so a reset between
// dictations is picked up.
class DecodeRouter {
  public:
    // The engine loaded for a slot, or null when there is none.
    using EngineLookup = std::function<std::shared_ptr<SpeechRecognizer>(ModelSlot)>;

    explicit DecodeRouter(EngineLookup engines) : m_engines(std::move(engines)) {}

    // `languageSetting` is the stored "pttLanguage" value: "he", "en", or
    // anything else for Auto. Throws ModelLocatorError::slotUnassigned for a
    // missing engine, the engine's errors unchanged, and DecodeCancelled once
    // `cancel` fires.
    Transcription decode(const std::vector<float>& samples, const std::string& languageSetting,
                         MicMode micMode, int64_t prerollCount,
                         const CancellationToken& cancel) const;

  private:
    std::shared_ptr<SpeechRecognizer> engine(ModelSlot slot) const;

    EngineLookup m_engines;
};

}  // namespace velmarune
