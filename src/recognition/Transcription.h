#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmarune {

// The result of one decode, with how it was routed.
struct Transcription {
    struct Route {
        std::string language;             // language decoded in
        std::optional<float> confidence;  // detection probability, when detection ran
        std::string slot;                 // "hebrew" or "multilingual"
        float floor = 0;                  // noise floor from the trimming
        float threshold = 0;              // speech threshold from the trimming
        int64_t trimmedMs = 0;
        int64_t quietTailMs = 0;
        int64_t zeroMs = 0;
        int64_t trimMs = 0;
        std::optional<int64_t> detectMs;

        bool operator==(const Route&) const = default;
    };

    std::string text;
    std::optional<int64_t> segments;
    int64_t latencyMs = 0;
    std::optional<int64_t> encodeMs;
    std::optional<Route> route;
    std::optional<std::string> lastSegment;  // "kept", "no-speech", "frames", "frames+no-speech"

    bool operator==(const Transcription&) const = default;
};

}  // namespace velmarune
