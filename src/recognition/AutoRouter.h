#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "recognition/SpeechRecognizer.h"

namespace velmarune {

// Holds the detection of one Auto decode: the decision writes it, the route
// record reads it back.
class DetectionResultBox {
  public:
    void store(LanguageDetection detection) {
        std::lock_guard lock(m_mutex);
        m_detection = std::move(detection);
    }
    std::optional<LanguageDetection> load() const {
        std::lock_guard lock(m_mutex);
        return m_detection;
    }

  private:
    mutable std::mutex m_mutex;
    std::optional<LanguageDetection> m_detection;
};

// The Auto decision, biased towards Hebrew: only a confident detection of
// another language goes to the multilingual engine.
namespace AutoRouter {

inline constexpr float kConfidenceForMultilingual = 0.9F;

struct Decision {
    bool useMultilingual = false;
    std::string language;

    bool operator==(const Decision&) const = default;
};

// Detects on `multilingual` (throws what detection throws), stores the
// detection in `box` and decides.
Decision decide(const std::vector<float>& samples, SpeechRecognizer& multilingual,
                DetectionResultBox& box);

}  // namespace AutoRouter

}  // namespace velmarune
