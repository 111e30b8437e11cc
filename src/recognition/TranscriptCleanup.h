#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmarune {

// What the clean-up of a raw transcript yields.
struct CleanupResult {
    std::string text;  // cleaned text: what is pasted and remembered
    std::optional<std::string>
        loop;  // "dots", "repeat", "repeat+ratio", "repeat+segments"; absent when none
    int64_t collapsedWords = 0;
    double compressionRatio = 0;  // of the raw text

    bool operator==(const CleanupResult&) const = default;
};

// Detects the symptoms of a decoder repetition loop in a raw transcript,
// labels them, and collapses runs of a repeated word or phrase to a single
// occurrence. `seconds` is the recording's duration before trimming and
// `segments` the decode's segment count. Never fails; runs on any thread.
CleanupResult cleanUpTranscript(const std::string& text, double seconds,
                                std::optional<int64_t> segments);

// The pieces of the clean-up, exposed for the diagnostic log and for tests.
namespace transcript {

// A maximal run of letters and digits (any script), lower-cased, with the
// byte offset just after it in the text.
struct Word {
    std::string folded;
    size_t endOffset = 0;
};

// A run of `count` consecutive repetitions of the `period` words starting at word `start`.
struct RepeatRun {
    size_t start = 0;
    size_t period = 0;
    size_t count = 0;

    bool operator==(const RepeatRun&) const = default;
};

std::vector<Word> words(std::string_view text);
// One word at least 8 times in a row, or a unit of 2 to 20 words at least 3 times in a row.
std::optional<RepeatRun> findRepeatRun(const std::vector<Word>& words);
// A phrase of 3 to 6 words that occurs at least 3 times anywhere.
bool hasRepeatedPhrase(const std::vector<Word>& words);
// More dots than letters and digits.
bool isMostlyDots(std::string_view text);
// Largest DEFLATE ratio (raw bytes / compressed bytes) over 400-character windows.
double compressionRatio(std::string_view text);
// Label when none of the symptoms applies, as logged.
inline constexpr std::string_view kNoLoopLabel = "pass";

}  // namespace transcript

}  // namespace velmarune
