#include "recognition/LastSegmentCheck.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmarune {

namespace {

constexpr int64_t kSamplesPerCentisecond = 160;
constexpr int64_t kWindowSamples = 480;

bool isQuiet(const std::vector<float>& samples, int64_t t0Cs, int64_t t1Cs, float quietThreshold) {
    if (!(quietThreshold > 0) || t0Cs >= t1Cs) {
        return false;
    }
    const auto count = static_cast<int64_t>(samples.size());
    const int64_t start = std::clamp<int64_t>(t0Cs * kSamplesPerCentisecond, 0, count);
    const int64_t end = std::clamp<int64_t>(t1Cs * kSamplesPerCentisecond, 0, count);
    for (int64_t from = start; from + kWindowSamples <= end; from += kWindowSamples) {
        float sum = 0;
        for (int64_t i = from; i < from + kWindowSamples; ++i) {
            sum += std::fabs(samples[static_cast<size_t>(i)]);
        }
        if (sum / static_cast<float>(kWindowSamples) >= quietThreshold) {
            return false;
        }
    }
    return true;  // every window was below the threshold, or the range is shorter than one
}

}  // namespace

LastSegmentDecision judgeLastSegment(const std::vector<float>& samples, int64_t t0Cs, int64_t t1Cs,
                                     float noSpeechProbability, float noSpeechThreshold,
                                     float quietThreshold) {
    const bool speechless = noSpeechProbability > noSpeechThreshold;
    const bool quiet = isQuiet(samples, t0Cs, t1Cs, quietThreshold);
    if (quietThreshold == 0) {
        return speechless ? LastSegmentDecision{false, "no-speech"}
                          : LastSegmentDecision{true, "kept"};
    }
    if (quietThreshold == std::numeric_limits<float>::denorm_min()) {
        if (quiet && speechless) {
            return {false, "frames+no-speech"};
        }
        if (quiet) {
            return {false, "frames"};
        }
        if (speechless) {
            return {false, "no-speech"};
        }
        return {true, "kept"};
    }
    return quiet && speechless ? LastSegmentDecision{false, "frames+no-speech"}
                               : LastSegmentDecision{true, "kept"};
}

}  // namespace velmarune
