#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "models/ModelLocatorError.h"
#include "recognition/DecodeRouter.h"
#include "recognition/WhisperEngine.h"
#include "support/ScriptedRecognizer.h"

namespace velmarune {
namespace {

using testing::ScriptedRecognizer;

// 1 s of speech at 0.3 over noise at 0.01, then 2 s of noise (cut to 0.6 s).
std::vector<float> speechWithTail() {
    std::vector<float> s;
    auto add = [&](int frames, float level) {
        for (int i = 0; i < frames * 480; ++i) {
            s.push_back(i % 2 ? level : -level);
        }
    };
    add(20, 0.01F);
    add(34, 0.3F);
    add(67, 0.01F);
    return s;
}

struct RouteCase {
    const char* name;
    std::string setting;
    LanguageDetection detection;
    const char* engineUsed;  // also the route's slot
    std::string language;
    std::string routeLanguage;  // anything but Hebrew gets the English prompt
    std::optional<float> confidence;
};

TEST(DecodeRouter, RoutesBySettingAndDetection) {
    const RouteCase cases[] = {
        {"hebrew only", "he", {"en", 1.0F}, "hebrew", "he", "he", std::nullopt},
        {"english only", "en", {"he", 1.0F}, "multilingual", "en", "en", std::nullopt},
        {"auto, hebrew at low confidence", "auto", {"he", 0.3F}, "hebrew", "he", "he", 0.3F},
        {"auto, confident english", "auto", {"en", 0.95F}, "multilingual", "en", "en", 0.95F},
        {"auto, english at 0.9", "auto", {"en", 0.9F}, "multilingual", "en", "en", 0.9F},
        {"auto, uncertain english", "auto", {"en", 0.89F}, "hebrew", "he", "en", 0.89F},
        {"auto, arabic", "auto", {"ar", 0.93F}, "multilingual", "ar", "ar", 0.93F},
        {"unknown setting is auto", "fr", {"en", 0.95F}, "multilingual", "en", "en", 0.95F},
    };
    const std::vector<float> samples = speechWithTail();
    for (const auto& c : cases) {
        auto hebrew = std::make_shared<ScriptedRecognizer>("hebrew");
        auto multilingual = std::make_shared<ScriptedRecognizer>("multilingual", c.detection);
        DecodeRouter router([&](ModelSlot slot) -> std::shared_ptr<SpeechRecognizer> {
            return slot == ModelSlot::hebrew ? hebrew : multilingual;
        });
        const Transcription t = router.decode(samples, c.setting, MicMode::standard, 8000, {});
        EXPECT_EQ(t.text, c.engineUsed) << c.name;
        const auto& calls =
            std::string(c.engineUsed) == "hebrew" ? hebrew->calls : multilingual->calls;
        ASSERT_EQ(calls.size(), 1U) << c.name;
        EXPECT_EQ(calls[0].language, c.language) << c.name;
        EXPECT_EQ(calls[0].englishPrompt, c.routeLanguage != "he") << c.name;
        // Detection and decoding both see the trimmed recording.
        EXPECT_EQ(calls[0].sampleCount, (20U + 34U + 20U) * 480U) << c.name;
        ASSERT_TRUE(t.route) << c.name;
        EXPECT_EQ(t.route->language, c.routeLanguage) << c.name;
        EXPECT_EQ(t.route->confidence, c.confidence) << c.name;
        EXPECT_EQ(t.route->slot, c.engineUsed) << c.name;
        EXPECT_EQ(t.route->detectMs.has_value(), c.confidence.has_value()) << c.name;
        EXPECT_EQ(multilingual->detectedSampleCounts.size(), c.confidence ? 1U : 0U) << c.name;
        EXPECT_EQ(t.route->trimmedMs, 1410) << c.name;  // 47 frames of 30 ms removed
        EXPECT_EQ(t.route->quietTailMs, 2010) << c.name;
        EXPECT_NEAR(t.route->floor, 0.01F, 1e-6) << c.name;
        EXPECT_EQ(calls[0].quietThreshold, t.route->threshold) << c.name;
        EXPECT_EQ(t.route->zeroMs, 0) << c.name;
    }
}

TEST(DecodeRouter, MissingEnginesAndDetectionFailuresFailTheDecode) {
    auto hebrew = std::make_shared<ScriptedRecognizer>("hebrew");
    auto englishDetector =
        std::make_shared<ScriptedRecognizer>("multilingual", LanguageDetection{"en", 0.3F});
    const std::vector<float> samples = speechWithTail();
    struct Case {
        const char* name;
        std::string setting;
        std::shared_ptr<SpeechRecognizer> hebrewEngine, multilingualEngine;
        std::string error;
    };
    const Case cases[] = {
        {"hebrew only without hebrew", "he", nullptr, englishDetector,
         "No model assigned to Hebrew slot."},
        {"english only without multilingual", "en", hebrew, nullptr,
         "No model assigned to Multilingual slot."},
        {"auto without multilingual", "auto", hebrew, nullptr,
         "No model assigned to Multilingual slot."},
        {"auto routed to a missing hebrew", "auto", nullptr, englishDetector,
         "No model assigned to Hebrew slot."},
    };
    for (const auto& c : cases) {
        DecodeRouter router([&](ModelSlot slot) {
            return slot == ModelSlot::hebrew ? c.hebrewEngine : c.multilingualEngine;
        });
        try {
            router.decode(samples, c.setting, MicMode::standard, 8000, {});
            ADD_FAILURE() << c.name;
        } catch (const ModelLocatorError& e) {
            EXPECT_EQ(std::string(e.what()), c.error) << c.name;
        }
    }

    // A failed detection fails the decode; the Hebrew engine is not tried.
    auto failing = std::make_shared<ScriptedRecognizer>("multilingual");
    failing->failDetection = true;
    DecodeRouter router([&](ModelSlot slot) -> std::shared_ptr<SpeechRecognizer> {
        return slot == ModelSlot::hebrew ? hebrew : failing;
    });
    EXPECT_THROW(router.decode(samples, "auto", MicMode::standard, 8000, {}), WhisperEngineError);
    EXPECT_TRUE(hebrew->calls.empty());

    CancellationToken cancelled;
    cancelled.cancel();
    EXPECT_THROW(router.decode(samples, "he", MicMode::standard, 8000, cancelled), DecodeCancelled);
}

}  // namespace
}  // namespace velmarune
