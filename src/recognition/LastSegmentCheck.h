#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmarune {

// Whether the last segment of a decode is kept, judged from its audio and
// its no-speech probability. The quiet threshold selects the rule: 0 looks
// only at the probability; the smallest positive float (a recording judged by
// digital silence) drops a segment that is all zeros or speechless; any other
// level drops it only when it is both quiet and speechless.
struct LastSegmentDecision {
    bool keep = true;
    std::string outcome;  // "kept", "no-speech", "frames", "frames+no-speech"

    bool operator==(const LastSegmentDecision&) const = default;
};

// `t0Cs`/`t1Cs` are whisper's segment times in centiseconds; they may run past
// the audio and are clamped to it.
LastSegmentDecision judgeLastSegment(const std::vector<float>& samples, int64_t t0Cs, int64_t t1Cs,
                                     float noSpeechProbability, float noSpeechThreshold,
                                     float quietThreshold);

}  // namespace velmarune
