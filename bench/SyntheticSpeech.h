#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace velmarune::bench {

// Voiced, syllable-modulated sound at speech level for `voicedSeconds`, then
// room noise for `noiseSeconds` (which the trimming removes), at 16 kHz.
inline std::vector<float> syntheticDictation(double voicedSeconds, double noiseSeconds) {
    std::vector<float> s;
    uint32_t state = 12345;
    auto noise = [&] {
        state = state * 1664525U + 1013904223U;
        return (static_cast<float>(state >> 8) / 16777216.0F * 2.0F - 1.0F) * 0.02F;
    };
    const int voiced = static_cast<int>(voicedSeconds * 16000);
    for (int i = 0; i < voiced; ++i) {
        const float t = static_cast<float>(i) / 16000.0F;
        const float envelope = 0.5F + 0.5F * std::sin(2.0F * 3.14159F * 4.0F * t);
        float v = 0;
        for (int h = 1; h <= 5; ++h) {
            v += std::sin(2.0F * 3.14159F * 140.0F * static_cast<float>(h) * t) /
                 static_cast<float>(h);
        }
        s.push_back(0.25F * envelope * v + noise());
    }
    for (int i = 0; i < static_cast<int>(noiseSeconds * 16000); ++i) {
        s.push_back(noise());
    }
    return s;
}

}  // namespace velmarune::bench
