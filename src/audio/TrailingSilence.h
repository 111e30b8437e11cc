#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "audio/MicMode.h"

namespace velmarune {

// Estimates a recording's noise floor and speech threshold, cuts a long quiet
// tail down to a fixed margin, and measures digitally silent stretches. Works
// on 16 kHz mono float samples; every function is pure.
namespace TrailingSilence {

inline constexpr int64_t kFrameSamples = 480;  // 30 ms
// Marks a recording judged by digital silence rather than by level: the
// whisper engine then counts only all-zero windows as quiet.
inline constexpr float kDigitalSilenceThreshold = std::numeric_limits<float>::denorm_min();

struct Result {
    std::vector<float> samples;  // the input, or a prefix of it when the tail was cut
    float speechThreshold = 0;   // 0 when no threshold applies
    float floor = 0;             // 10th-percentile frame mean; 0 when not computed
    int64_t quietTailMs = 0;
    int64_t zeroMs = 0;  // left at 0 here; zeroMs() supplies the figure

    bool operator==(const Result&) const = default;
};

// Mean absolute value of each whole 480-sample frame; a partial last frame is ignored.
std::vector<float> frameMeans(const std::vector<float>& samples);

Result trim(const std::vector<float>& samples, const std::vector<float>& frameMeans,
            MicMode micMode, int64_t prerollCount);

// Digitally silent audio (frames of exact zeros) after key-down, in ms.
int64_t zeroMs(const std::vector<float>& frameMeans, int64_t prerollCount);

}  // namespace TrailingSilence

}  // namespace velmarune
