#include "recognition/TranscriptCleanup.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>
#include <zlib.h>

namespace velmarune {

namespace transcript {

namespace {

constexpr size_t kMaxPeriod = 20;
constexpr int kMaxCollapsePasses = 50;
constexpr size_t kRatioWindowCharacters = 400;
constexpr size_t kRatioWindowStep = 200;
constexpr double kLoopRatio = 2.4;
constexpr double kSegmentsPerSecond = 0.5;
constexpr double kMinimumSecondsForSegments = 20.0;

bool isLetterOrNumber(UChar32 c) {
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

size_t required(size_t period) {
    return period == 1 ? 7 : 2 * period;
}

// True when the unit of `period` words at `start` is not itself a repetition
// of a shorter unit.
bool isPrimitive(const std::vector<Word>& w, size_t start, size_t period) {
    for (size_t d = 1; d < period; ++d) {
        if (period % d != 0) {
            continue;
        }
        bool repeats = true;
        for (size_t k = start + d; k < start + period && repeats; ++k) {
            repeats = w[k].folded == w[k - d].folded;
        }
        if (repeats) {
            return false;
        }
    }
    return true;
}

// Byte offsets of the user-perceived character boundaries, 0 and size included.
std::vector<size_t> characterBoundaries(std::string_view text) {
    std::vector<size_t> bounds{0};
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    UBreakIterator* it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    if (U_SUCCESS(status)) {
        ubrk_setUText(it, utext, &status);
    }
    if (U_SUCCESS(status)) {
        for (int32_t b = ubrk_next(it); b != UBRK_DONE; b = ubrk_next(it)) {
            bounds.push_back(static_cast<size_t>(b));
        }
    } else {
        // Without a break iterator, fall back to one character per code point.
        for (size_t i = 0; i < text.size();) {
            UChar32 c;
            int32_t next = static_cast<int32_t>(i);
            U8_NEXT(text.data(), next, static_cast<int32_t>(text.size()), c);
            i = static_cast<size_t>(next);
            bounds.push_back(i);
        }
    }
    ubrk_close(it);
    utext_close(utext);
    if (bounds.back() != text.size()) {
        bounds.push_back(text.size());
    }
    return bounds;
}

double windowRatio(std::string_view bytes) {
    if (bytes.empty()) {
        return 0;
    }
    uLongf compressedSize = compressBound(static_cast<uLong>(bytes.size()));
    std::string compressed(compressedSize, '\0');
    const int rc =
        compress(reinterpret_cast<Bytef*>(compressed.data()), &compressedSize,
                 reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()));
    if (rc != Z_OK || compressedSize == 0) {
        return 0;
    }
    return static_cast<double>(bytes.size()) / static_cast<double>(compressedSize);
}

}  // namespace

std::vector<Word> words(std::string_view text) {
    std::vector<Word> result;
    std::string current;
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t scalarStart = i;
        UChar32 c;
        U8_NEXT(text.data(), i, length, c);
        // Combining marks (Hebrew points) belong to the word they sit on.
        const bool mark = !current.empty() && c >= 0 && (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0;
        if (c >= 0 && (isLetterOrNumber(c) || mark)) {
            char buffer[U8_MAX_LENGTH];
            int32_t n = 0;
            U8_APPEND_UNSAFE(buffer, n, u_tolower(c));
            current.append(buffer, static_cast<size_t>(n));
        } else if (!current.empty()) {
            result.push_back({std::move(current), static_cast<size_t>(scalarStart)});
            current.clear();
        }
    }
    if (!current.empty()) {
        result.push_back({std::move(current), text.size()});
    }
    return result;
}

std::optional<RepeatRun> findRepeatRun(const std::vector<Word>& w) {
    const size_t n = w.size();
    if (n < 2) {
        return std::nullopt;
    }
    const size_t maxPeriod = std::min(n / 2, kMaxPeriod);
    for (size_t p = 1; p <= maxPeriod; ++p) {
        if (n < p + required(p)) {
            continue;  // too few words for this period (period 1 needs more than period 2)
        }
        size_t count = 0;
        for (size_t i = 0; i + p < n; ++i) {
            count = w[i].folded == w[i + p].folded ? count + 1 : 0;
            if (count != required(p)) {
                continue;
            }
            const size_t s = i - count + 1;
            if (!isPrimitive(w, s, p)) {
                continue;
            }
            size_t last = i;
            while (last + 1 + p < n && w[last + 1].folded == w[last + 1 + p].folded) {
                ++last;
            }
            return RepeatRun{s, p, (last + p - s + 1) / p};
        }
    }
    return std::nullopt;
}

bool hasRepeatedPhrase(const std::vector<Word>& w) {
    const size_t n = w.size();
    for (size_t k = 3; k <= 6 && n >= 3 * k; ++k) {
        std::unordered_map<std::string, int> counts;
        for (size_t i = 0; i + k <= n; ++i) {
            std::string key;
            for (size_t j = i; j < i + k; ++j) {
                key += w[j].folded;
                key += '\x1f';
            }
            if (++counts[key] >= 3) {
                return true;
            }
        }
    }
    return false;
}

bool isMostlyDots(std::string_view text) {
    size_t letters = 0;
    size_t dots = 0;
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(text.data(), i, length, c);
        if (c == '.' || c == 0x2026) {
            ++dots;
        } else if (c >= 0 && isLetterOrNumber(c)) {
            ++letters;
        }
    }
    return dots > 0 && letters < dots;
}

double compressionRatio(std::string_view text) {
    const std::vector<size_t> bounds = characterBoundaries(text);
    const size_t characters = bounds.size() - 1;
    if (characters <= kRatioWindowCharacters) {
        return windowRatio(text);
    }
    auto window = [&](size_t endCharacter) {
        const size_t from = bounds[endCharacter - kRatioWindowCharacters];
        return windowRatio(text.substr(from, bounds[endCharacter] - from));
    };
    double best = 0;
    size_t end = kRatioWindowCharacters;
    for (; end <= characters; end += kRatioWindowStep) {
        best = std::max(best, window(end));
    }
    if (end - kRatioWindowStep != characters) {
        best = std::max(best, window(characters));
    }
    return best;
}

}  // namespace transcript

CleanupResult cleanUpTranscript(const std::string& text, double seconds,
                                std::optional<int64_t> segments) {
    using namespace transcript;
    const std::vector<Word> rawWords = words(text);
    const bool run = findRepeatRun(rawWords).has_value();
    const bool phrase = hasRepeatedPhrase(rawWords);
    const bool dots = isMostlyDots(text);

    CleanupResult result;
    result.compressionRatio = compressionRatio(text);
    if (dots) {
        result.loop = "dots";
    } else if (run) {
        result.loop = "repeat";
    } else if (phrase) {
        if (result.compressionRatio > kLoopRatio) {
            result.loop = "repeat+ratio";
        } else if (segments && seconds >= kMinimumSecondsForSegments &&
                   static_cast<double>(*segments) / seconds > kSegmentsPerSecond) {
            result.loop = "repeat+segments";
        }
    }

    // Each pass removes the repetitions after the first occurrence of one run,
    // cut from the text as transcribed so the kept occurrence keeps its spelling.
    std::string current = text;
    for (int pass = 0; pass < kMaxCollapsePasses; ++pass) {
        const std::vector<Word> w = words(current);
        const auto found = findRepeatRun(w);
        if (!found) {
            break;
        }
        const size_t keepUntil = w[found->start + found->period - 1].endOffset;
        const size_t resumeAt = w[found->start + found->count * found->period - 1].endOffset;
        current.erase(keepUntil, resumeAt - keepUntil);
        result.collapsedWords += static_cast<int64_t>((found->count - 1) * found->period);
    }
    result.text = std::move(current);
    return result;
}

}  // namespace velmarune
