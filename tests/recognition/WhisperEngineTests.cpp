#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "foundation/Log.h"
#include "models/ModelFileCheck.h"
#include "recognition/WhisperEngine.h"
#include "support/TempDir.h"
#include "support/TestModels.h"

namespace velmarune {
namespace {

using testing::TestModel;
using testing::testModelPath;

std::vector<float> tone(size_t count, float level = 0.2F) {
    std::vector<float> s(count);
    for (size_t i = 0; i < count; ++i) {
        s[i] = level * std::sin(static_cast<float>(i) * 0.07F);
    }
    return s;
}

// The engines decode with the speed options (one thread, no flash attention,
// the faster encoder as `faster` says at each call): they must not change the words.
class WhisperEngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WhisperEngine::Options options;
        options.threads = 1;
        options.flashAttention = false;
        options.fasterEncoder = [] { return faster; };
        english = WhisperEngine::create(testModelPath(TestModel::english), {}, options);
        hebrew = WhisperEngine::create(testModelPath(TestModel::hebrew), {}, options);
    }
    static void TearDownTestSuite() {
        english.reset();
        hebrew.reset();
    }
    static inline bool faster = false;
    static inline std::shared_ptr<WhisperEngine> english;
    static inline std::shared_ptr<WhisperEngine> hebrew;
};

// A file that would crash whisper.cpp's loader (no audio heads) is refused by
// the check first; a sound one loads.
TEST(WhisperEngineLoad, ChecksTheFileBeforeLoadingIt) {
    testing::TempDir dir;
    const auto path = testModelPath(TestModel::silent);
    std::string zeroHeads = testing::readFile(path);
    zeroHeads.replace(16, 4, 4, '\0');
    testing::writeFile(dir / "heads.bin", zeroHeads);
    EXPECT_THROW(WhisperEngine::create(dir / "heads.bin"), ModelFileError);

    const auto engine = WhisperEngine::create(path);
    EXPECT_EQ(engine->modelSize(), static_cast<int64_t>(std::filesystem::file_size(path)));

    // An empty transcript gives no segments and no last-segment outcome.
    const Transcription t = engine->transcribe(tone(16000), "en", true, 0.0F, 0.0F);
    EXPECT_EQ(t.text, "");
    EXPECT_EQ(t.segments, 0);
    EXPECT_EQ(t.lastSegment, std::nullopt);
}

TEST_F(WhisperEngineTest, EmptyInputSkipsWhisper) {
    const Transcription t = english->transcribe({}, "en", true, 0.0F, 0.0F);
    EXPECT_EQ(t, (Transcription{"", 0, 0, std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(english->detectLanguage({}), (LanguageDetection{"en", 1.0F}));
}

// Under 200 samples whisper.cpp itself would read past the buffer; 12 s
// fill most of the window. Detection must not keep the last transcription's
// shortened window.
TEST_F(WhisperEngineTest, TranscribesAndDetectsKnownPhrasesOfAnyLength) {
    for (const bool fasterEncoder : {true, false}) {
        faster = fasterEncoder;
        for (const size_t samples :
             {size_t{150}, size_t{1599}, size_t{32000}, size_t{16000 * 12}}) {
            SCOPED_TRACE(std::to_string(faster) + ", " + std::to_string(samples));
            const Transcription en = english->transcribe(tone(samples), "en", true, 0.0F, 0.0F);
            EXPECT_EQ(en.text, testing::kEnglishTestTranscript);
            EXPECT_EQ(en.segments, 1);
            EXPECT_EQ(en.lastSegment, "kept");
            EXPECT_TRUE(en.encodeMs.has_value());
            const LanguageDetection he = hebrew->detectLanguage(tone(samples));
            EXPECT_EQ(he.code, "he");
            EXPECT_GT(he.confidence, 0.99F);
            EXPECT_LE(he.confidence, 1.0F);
            EXPECT_EQ(hebrew->transcribe(tone(samples), "he", false, 0.0F, 0.0F).text,
                      testing::kHebrewTestTranscript);
            EXPECT_EQ(english->detectLanguage(tone(samples)).code, "en");
        }
    }
}

TEST_F(WhisperEngineTest, DigitalSilenceDropsAnAllZeroLastSegment) {
    const float digital = std::numeric_limits<float>::denorm_min();
    const Transcription zeros =
        english->transcribe(std::vector<float>(32000, 0.0F), "en", true, 0.0F, digital);
    EXPECT_EQ(zeros.text, "");
    EXPECT_EQ(zeros.segments, 1);  // produced, then dropped
    EXPECT_EQ(zeros.lastSegment, "frames");

    const Transcription speech = english->transcribe(tone(32000), "en", true, 0.0F, digital);
    EXPECT_EQ(speech.lastSegment, "kept");
    EXPECT_EQ(speech.text, testing::kEnglishTestTranscript);
}

TEST_F(WhisperEngineTest, ACancelledTaskStopsTheDecode) {
    CancellationToken token;
    token.cancel();
    EXPECT_THROW(english->transcribe(tone(32000), "en", true, 0.0F, 0.0F, token), DecodeCancelled);
    // The engine stays usable.
    EXPECT_EQ(english->transcribe(tone(32000), "en", true, 0.0F, 0.0F).text,
              testing::kEnglishTestTranscript);
}

TEST(WhisperEngineOptions, FasterEncoderCoversTheAudioWithAMargin) {
    const std::pair<size_t, int> cases[] = {
        {0, 64},             // the margin alone
        {16000, 128},        // 1 s: 50 positions + 64, rounded up to 32
        {16000 * 5, 320},    // 250 + 64
        {16000 * 10, 640},   // 500 + 125 = 625 -> 640
        {16000 * 24, 1500},  // 1200 + 300: the full window
        {16000 * 60, 1500},  // never beyond it
    };
    for (const auto& [samples, expected] : cases) {
        EXPECT_EQ(audioContextFor(samples), expected) << samples;
    }
}

TEST(WhisperEngineOptions, CountsPhysicalCoresFromTheSiblingLists) {
    testing::TempDir sys;
    const auto siblings = [&](int cpu, const std::string& list) {
        const auto folder = sys / ("cpu" + std::to_string(cpu)) / "topology";
        std::filesystem::create_directories(folder);
        testing::writeFile(folder / "thread_siblings_list", list + "\n");
    };
    siblings(0, "0,4");
    siblings(4, "0,4");
    siblings(1, "1,5");
    siblings(5, "1,5");
    siblings(2, "2");
    const std::pair<std::vector<int>, int> cases[] = {
        {{0, 1, 4, 5}, 2},     // two cores with two threads each
        {{0, 1, 2, 4, 5}, 3},  // and one without a sibling
        {{0, 1}, 2},           // a process limited to one thread per core
        {{2, 7}, 2},           // CPU 7 has no topology: it counts alone
    };
    for (const auto& [cpus, expected] : cases) {
        EXPECT_EQ(physicalCores(sys.path(), cpus), expected);
    }
}

}  // namespace
}  // namespace velmarune
