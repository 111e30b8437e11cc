#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "recognition/LastSegmentCheck.h"

namespace velmarune {
namespace {

constexpr float kDigital = std::numeric_limits<float>::denorm_min();
constexpr float kNoSpeechThreshold = 0.6F;

TEST(LastSegmentCheck, DecidesByThresholdKind) {
    // 1 s of silence then 1 s at 0.125; the segment covers one or the other.
    std::vector<float> audio(32000, 0.0F);
    std::fill(audio.begin() + 16000, audio.end(), 0.125F);
    struct Case {
        const char* name;
        int64_t t0Cs, t1Cs;
        float noSpeech, quietThreshold;
        LastSegmentDecision expected;
    };
    const Case cases[] = {
        {"zero threshold ignores audio", 0, 100, 0.1F, 0, {true, "kept"}},
        {"zero threshold, speechless", 100, 200, 0.9F, 0, {false, "no-speech"}},
        {"digital: zeros and speechless", 0, 100, 0.9F, kDigital, {false, "frames+no-speech"}},
        {"digital: zeros only", 0, 100, 0.1F, kDigital, {false, "frames"}},
        {"digital: speechless only", 100, 200, 0.9F, kDigital, {false, "no-speech"}},
        {"digital: sound", 100, 200, 0.1F, kDigital, {true, "kept"}},
        {"level: quiet and speechless", 0, 100, 0.9F, 0.05F, {false, "frames+no-speech"}},
        {"level: quiet only", 0, 100, 0.1F, 0.05F, {true, "kept"}},
        {"level: speechless only", 100, 200, 0.9F, 0.05F, {true, "kept"}},
        {"level: one loud window ends it", 50, 200, 0.9F, 0.05F, {true, "kept"}},
        {"level: at the threshold is loud", 100, 200, 0.9F, 0.125F, {true, "kept"}},
        {"end past the audio is clamped", 0, 3000, 0.9F, 0.05F, {true, "kept"}},
        {"negative start counts as 0", -50, 90, 0.9F, 0.05F, {false, "frames+no-speech"}},
        {"shorter than a window is quiet", 195, 197, 0.9F, 0.05F, {false, "frames+no-speech"}},
        {"empty range is not quiet", 150, 150, 0.9F, 0.05F, {true, "kept"}},
        {"beyond the audio is quiet", 300, 400, 0.9F, 0.05F, {false, "frames+no-speech"}},
        {"probability at the threshold is speech",
         0,
         100,
         kNoSpeechThreshold,
         0.05F,
         {true, "kept"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(judgeLastSegment(audio, c.t0Cs, c.t1Cs, c.noSpeech, kNoSpeechThreshold,
                                   c.quietThreshold),
                  c.expected)
            << c.name;
    }
}

}  // namespace
}  // namespace velmarune
