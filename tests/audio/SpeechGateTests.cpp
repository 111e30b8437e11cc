#include <gtest/gtest.h>

#include "audio/SpeechGate.h"

namespace velmarune {
namespace {

TEST(SpeechGate, DecidesFromTheRecordingAlone) {
    struct Case {
        const char* name;
        int64_t newSamples;
        float level;
        int64_t buffers;
        bool restarted;
        double heldSeconds;
        GateOutcome expected;
    };
    const Case cases[] = {
        {"short", 4799, 0.1f, 30, false, 0.4, GateOutcome::tap},
        {"long enough", 4800, 0.1f, 30, false, 0.4, GateOutcome::pass},
        {"no buffers, quick", 0, 0, 0, false, 0.99, GateOutcome::tap},
        {"no buffers, a second", 0, 0, 0, false, 1.0, GateOutcome::noNewAudio},
        {"no buffers, restarted", 0, 0, 0, true, 0.2, GateOutcome::noNewAudio},
        {"dead input", 16000, 0.0009f, 100, false, 1.0, GateOutcome::silentInput},
        {"dead but short", 15999, 0.0009f, 100, false, 1.0, GateOutcome::pass},
        {"one loud sample", 16000, 0.001f, 100, false, 1.0, GateOutcome::pass},
    };
    for (const Case& c : cases) {
        std::vector<float> samples(8000, 0.01f);  // pre-roll
        for (int64_t i = 0; i < c.newSamples; ++i) {
            samples.push_back(i % 2 == 0 ? c.level : -c.level);
        }
        const TimePoint keyDown{};
        const auto now = addSeconds(keyDown, c.heldSeconds);
        EXPECT_EQ(
            gateOutcomeText(speechGate({samples, c.buffers, 8000, c.restarted, keyDown, now})),
            gateOutcomeText(c.expected))
            << c.name;
    }
}

TEST(SpeechGate, SilenceIsMeasuredOverTheWholeRecording) {
    const TimePoint t{};
    std::vector<float> quiet(8000 + 6000, 0.00015f);
    EXPECT_EQ(speechGate({quiet, 10, 8000, false, t, t}), GateOutcome::silence);
    // A loud pre-roll lifts the mean above the threshold.
    std::fill(quiet.begin(), quiet.begin() + 8000, 0.01f);
    EXPECT_EQ(speechGate({quiet, 10, 8000, false, t, t}), GateOutcome::pass);
    // A pre-roll count larger than the recording cannot make new samples negative.
    std::vector<float> tiny(10, 0.1f);
    EXPECT_EQ(speechGate({tiny, 1, 8000, false, t, t}), GateOutcome::tap);
}

}  // namespace
}  // namespace velmarune
