#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmarune {

// What the clean-up of a raw transcript yields.
struct CleanupResult {
    std::string text;                 // cleaned text: what is pasted and remembered
    std::optional<std::string> loop;  // "dots", "repeat", "repeat+ratio", "repeat+segments"; absent when none
    int64_t collapsedWords = 0;
    double compressionRatio = 0;  // of the raw text

    bool operator==(const CleanupResult&) const = default;
};

}  // namespace velmarune
