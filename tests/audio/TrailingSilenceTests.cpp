#include <gtest/gtest.h>

#include <vector>

#include "audio/TrailingSilence.h"

namespace velmarune {
namespace {

using TrailingSilence::frameMeans;
using TrailingSilence::kDigitalSilenceThreshold;

// Frames of a constant absolute level; alternating signs like real audio.
std::vector<float> frames(std::initializer_list<std::pair<int, float>> runs) {
    std::vector<float> out;
    for (const auto& [count, level] : runs) {
        for (int i = 0; i < count * 480; ++i) {
            out.push_back(i % 2 ? level : -level);
        }
    }
    return out;
}

TEST(TrailingSilence, FrameMeansIgnoreThePartialFrame) {
    std::vector<float> s = frames({{2, 0.5F}});
    s.push_back(1.0F);
    EXPECT_EQ(frameMeans(s), (std::vector<float>{0.5F, 0.5F}));
    EXPECT_TRUE(frameMeans(std::vector<float>(479, 1.0F)).empty());
}

TEST(TrailingSilence, LevelTrimCutsOnlyLongTails) {
    // 1 s of speech at 0.3 over room noise at 0.01, then a quiet tail.
    struct Case {
        int tailFrames;
        size_t expectedSamples;
        int64_t quietTailMs;
    };
    const int speechFrames = 34;
    const Case cases[] = {
        {23, (6 + 34 + 23) * 480, 690},  // under 800 ms: kept
        {27, (6 + 34 + 20) * 480, 810},  // 800 ms or more: cut to 600 ms
        {67, (6 + 34 + 20) * 480, 2010},
    };
    for (const auto& c : cases) {
        const auto s = frames({{6, 0.01F}, {speechFrames, 0.3F}, {c.tailFrames, 0.01F}});
        const auto r = TrailingSilence::trim(s, frameMeans(s), MicMode::standard, 8000);
        EXPECT_EQ(r.samples.size(), c.expectedSamples) << c.tailFrames;
        EXPECT_EQ(r.quietTailMs, c.quietTailMs) << c.tailFrames;
        EXPECT_NEAR(r.floor, 0.01F, 1e-6);
        EXPECT_NEAR(r.speechThreshold, 0.03F, 1e-6);  // min(0.01 + 0.25 * 0.29, 3 * 0.01)
        EXPECT_TRUE(std::equal(r.samples.begin(), r.samples.end(), s.begin()));  // a prefix
        EXPECT_EQ(r.zeroMs, 0);
    }
}

TEST(TrailingSilence, DegenerateRecordingsComeBackWhole) {
    const auto shortLoud = frames({{10, 0.5F}});
    auto r = TrailingSilence::trim(shortLoud, frameMeans(shortLoud), MicMode::standard, 0);
    EXPECT_EQ(r, (TrailingSilence::Result{shortLoud, 0, 0, 0, 0}));

    const auto flat = frames({{40, 0.2F}});
    r = TrailingSilence::trim(flat, frameMeans(flat), MicMode::standard, 0);
    EXPECT_EQ(r.samples, flat);
    EXPECT_EQ(r.speechThreshold, 0);
    EXPECT_NEAR(r.floor, 0.2F, 1e-5);  // reported though nothing applies
}

TEST(TrailingSilence, DigitalSilenceSwitchesToTheZeroTrim) {
    // Zero frames from 500 ms after key-down count; earlier ones do not.
    const auto late = frames({{16, 0.01F}, {20, 0.3F}, {40, 0.0F}});
    auto r = TrailingSilence::trim(late, frameMeans(late), MicMode::standard, 8000);
    EXPECT_EQ(r.speechThreshold, kDigitalSilenceThreshold);
    EXPECT_EQ(r.floor, 0);
    EXPECT_EQ(r.samples.size(), (36U + 20U) * 480U);
    EXPECT_EQ(r.quietTailMs, 1200);
    EXPECT_EQ(TrailingSilence::zeroMs(frameMeans(late), 8000), 1200);

    // Zeros only in the pre-roll and the first 500 ms after key-down.
    const auto early = frames({{16, 0.0F}, {16, 0.0F}, {30, 0.3F}, {10, 0.01F}});
    r = TrailingSilence::trim(early, frameMeans(early), MicMode::standard, 8000);
    EXPECT_NE(r.speechThreshold, kDigitalSilenceThreshold);
    EXPECT_EQ(TrailingSilence::zeroMs(frameMeans(early), 8000), 15 * 30);  // frames 17 to 31

    const auto allZero = std::vector<float>(16000, 0.0F);
    r = TrailingSilence::trim(allZero, frameMeans(allZero), MicMode::standard, 0);
    EXPECT_EQ(r, (TrailingSilence::Result{allZero, 0, 0, 1000, 0}));
}

TEST(TrailingSilence, VoiceIsolationNeverUsesTheLevelTrim) {
    auto s = frames({{10, 0.01F}, {30, 0.3F}, {40, 0.01F}});
    s.resize(s.size() + 100, 0.2F);
    const auto r = TrailingSilence::trim(s, frameMeans(s), MicMode::voiceIsolation, 8000);
    EXPECT_EQ(r.samples, s);
    EXPECT_EQ(r.quietTailMs, 6);  // the 100-sample partial frame
    EXPECT_EQ(r.speechThreshold, kDigitalSilenceThreshold);
    EXPECT_GT(r.speechThreshold, 0.0F);
}

}  // namespace
}  // namespace velmarune
