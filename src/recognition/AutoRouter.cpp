#include "recognition/AutoRouter.h"

#include "foundation/Log.h"

namespace velmarune::AutoRouter {

Decision decide(const std::vector<float>& samples, SpeechRecognizer& multilingual,
                DetectionResultBox& box) {
    const LanguageDetection detection = multilingual.detectLanguage(samples);
    box.store(detection);
    Decision decision;
    if (detection.code == "he" || detection.confidence < kConfidenceForMultilingual) {
        decision = {false, "he"};
    } else {
        decision = {true, detection.code};
    }
    Logger("AutoRouter")
        .info("Auto routing: detected=%{public}s p=%{public}f -> %{public}s", detection.code,
              detection.confidence, decision.language);
    return decision;
}

}  // namespace velmarune::AutoRouter
