#include <gtest/gtest.h>

#include <string>

#include "recognition/TranscriptCleanup.h"

namespace velmarune {
namespace {

std::string repeat(const std::string& unit, int times, const std::string& separator = " ") {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += (i ? separator : "") + unit;
    }
    return out;
}

struct CollapseCase {
    std::string name;
    std::string text;
    std::string cleaned;
    int64_t collapsed;
};

TEST(TranscriptCleanup, CollapsesRunsOfAWordOrPhrase) {
    const std::string unit21 =
        "a1 a2 a3 a4 a5 a6 a7 a8 a9 a10 a11 a12 a13 a14 a15 a16 a17 a18 a19 a20 a21";
    const CollapseCase cases[] = {
        {"word eight times", repeat("ok", 8), "ok", 7},
        {"word seven times", repeat("ok", 7), repeat("ok", 7), 0},
        {"pair three times", repeat("thank you", 3), "thank you", 4},
        {"pair twice", repeat("thank you", 2), repeat("thank you", 2), 0},
        {"21-word unit", repeat(unit21, 3), repeat(unit21, 3), 0},
        {"keeps first spelling and the tail", "So Yes, yes. YES yes yes yes yes yes! Done.",
         "So Yes! Done.", 7},
        {"hebrew word", repeat("שלום", 9), "שלום", 8},
        {"points belong to the word", repeat("שָׁלוֹם", 8, "-"), "שָׁלוֹם", 7},
        {"malformed bytes only separate", repeat("ok", 8, "\xFF\xFE"), "ok", 7},
        {"digits are words", repeat("12", 8, ", "), "12", 7},
        {"a doubled word is no pair unit", repeat("la", 6), repeat("la", 6), 0},
        {"two runs in two passes", repeat("go", 8) + " then " + repeat("a b", 3), "go then a b",
         11},
    };
    for (const auto& c : cases) {
        const CleanupResult result = cleanUpTranscript(c.text, 5.0, 1);
        EXPECT_EQ(result.text, c.cleaned) << c.name;
        EXPECT_EQ(result.collapsedWords, c.collapsed) << c.name;
    }
}

TEST(TranscriptCleanup, StopsAfterFiftyPasses) {
    // 60 separate runs, each needing its own pass.
    std::string text;
    for (int i = 0; i < 60; ++i) {
        text += repeat("w" + std::to_string(i), 8) + " x" + std::to_string(i) + " ";
    }
    const CleanupResult result = cleanUpTranscript(text, 60.0, 1);
    EXPECT_EQ(result.collapsedWords, 50 * 7);
    EXPECT_TRUE(transcript::findRepeatRun(transcript::words(result.text)).has_value());
}

TEST(TranscriptCleanup, LabelsLoopsInPriorityOrder) {
    // Three 3-word phrases apart from each other, with enough distinct filler
    // in between that the whole text compresses poorly.
    const std::string phrase = "red green blue";
    const std::string lowRatioPhrases = phrase + " alpha bravo charlie delta echo " + phrase +
                                        " foxtrot golf hotel india juliet " + phrase +
                                        " kilo lima mike";
    struct Case {
        std::string name;
        std::string text;
        double seconds;
        std::optional<int64_t> segments;
        std::optional<std::string> label;
    };
    const Case cases[] = {
        {"only dots", "....", 3, 1, "dots"},
        {"ellipsis", "\xE2\x80\xA6", 3, 1, "dots"},
        {"two letters three dots", "a.b..", 3, 1, "dots"},
        {"dots beat a run", repeat("ok", 8) + repeat(".", 20, ""), 3, 1, "dots"},
        {"run", repeat("ok", 8), 3, 1, "repeat"},
        {"phrase with a high ratio",
         repeat(phrase + " and then", 2) + " x " + repeat(phrase, 1) + " " + repeat("zzzz", 40, ""),
         3, 1, "repeat+ratio"},
        {"ratio alone", repeat("abcabcabc", 30, ""), 3, 1, std::nullopt},
        {"segments at 20 s", lowRatioPhrases, 20.0, 12, "repeat+segments"},
        {"segments at 19.9 s", lowRatioPhrases, 19.9, 12, std::nullopt},
        {"segments absent", lowRatioPhrases, 20.0, std::nullopt, std::nullopt},
        {"half a segment per second", lowRatioPhrases, 20.0, 10, std::nullopt},
        {"plain text", "The quick brown fox.", 3, 1, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cleanUpTranscript(c.text, c.seconds, c.segments).loop, c.label) << c.name;
    }
    EXPECT_LE(transcript::compressionRatio(lowRatioPhrases), 2.4);
}

TEST(TranscriptCleanup, CompressionRatioMeasuresTheWorstWindow) {
    EXPECT_EQ(transcript::compressionRatio(""), 0);
    std::string varied;
    for (int i = 0; i < 100; ++i) {
        varied += std::to_string(i * 7919 % 1000) + "q";
    }
    const double plain = transcript::compressionRatio(varied);
    // A repetitive stretch at the end of a long text still shows.
    const double withLoop = transcript::compressionRatio(varied + repeat("loop", 200, ""));
    EXPECT_GT(withLoop, 2.4);
    EXPECT_LT(plain, withLoop);
    // Hebrew letters with points are single characters for windowing.
    EXPECT_GT(transcript::compressionRatio(repeat("שָׁלוֹם ", 300, "")), 2.4);
}

}  // namespace
}  // namespace velmarune
