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

class WhisperEngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        english = WhisperEngine::create(testModelPath(TestModel::english));
        hebrew = WhisperEngine::create(testModelPath(TestModel::hebrew));
    }
    static void TearDownTestSuite() {
        english.reset();
        hebrew.reset();
    }
    static inline std::shared_ptr<WhisperEngine> english;
    static inline std::shared_ptr<WhisperEngine> hebrew;
};

// Each of these crashed, hung or fooled whisper.cpp's loader: the check
// refuses them first and the process goes on.
TEST(WhisperEngineLoad, RefusesFilesThatAreNotSoundModels) {
    testing::TempDir dir;
    const std::string model = testing::readFile(testModelPath(TestModel::silent));
    std::string zeroHeads = model;
    zeroHeads[16] = zeroHeads[17] = zeroHeads[18] = zeroHeads[19] = 0;
    testing::writeFile(dir / "cut.bin", model.substr(0, model.size() - 100));
    testing::writeFile(dir / "heads.bin", zeroHeads);
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {"/nonexistent/ggml-model.bin",
         "cannot read the model file /nonexistent/ggml-model.bin: No such file or directory"},
        {testModelPath(TestModel::corrupt),
         testModelPath(TestModel::corrupt).string() + " is not a whisper model"},
        {dir / "cut.bin", "model file is damaged: " + (dir / "cut.bin").string() +
                              ": the file ends inside tensor "
                              "'decoder.blocks.0.cross_attn.out.bias' (re-download it)"},
        {dir / "heads.bin", "model file is damaged: " + (dir / "heads.bin").string() +
                                ": the number of audio heads is 0 (re-download it)"},
    };
    for (const auto& [path, text] : cases) {
        try {
            WhisperEngine::create(path);
            ADD_FAILURE() << path;
        } catch (const ModelFileError& e) {
            EXPECT_EQ(std::string(e.what()), text);
        }
    }
}

TEST(WhisperEngineLoad, LogsTheLoadAndReportsTheFileSize) {
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    const auto path = testModelPath(TestModel::silent);
    const auto engine = WhisperEngine::create(path);
    EXPECT_EQ(engine->modelSize(), static_cast<int64_t>(std::filesystem::file_size(path)));
    bool found = false;
    for (const auto& line : sink->messages("WhisperEngine")) {
        found |= line.starts_with("Model loaded in ") &&
                 line.ends_with("s from " + path.string() + " (" +
                                std::to_string(engine->modelSize()) + " bytes)");
    }
    EXPECT_TRUE(found);

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

TEST_F(WhisperEngineTest, TranscribesKnownPhrases) {
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    const Transcription en = english->transcribe(tone(32000), "en", true, 0.0F, 0.0F);
    EXPECT_EQ(en.text, testing::kEnglishTestTranscript);
    EXPECT_EQ(en.segments, 1);
    EXPECT_EQ(en.lastSegment, "kept");
    EXPECT_TRUE(en.encodeMs.has_value());
    EXPECT_EQ(en.route, std::nullopt);

    const Transcription he = hebrew->transcribe(tone(48000), "he", false, 0.0F, 0.0F);
    EXPECT_EQ(he.text, testing::kHebrewTestTranscript);
    EXPECT_EQ(he.segments, 1);

    bool logged = false;
    for (const auto& line : sink->messages("WhisperEngine")) {
        logged |= line.starts_with("Transcribed 48000 samples in ") &&
                  line.ends_with(" ms, 1 segments, lang=he, T=0.000000");
    }
    EXPECT_TRUE(logged);
}

TEST_F(WhisperEngineTest, ShortInputIsPaddedAndDecoded) {
    // Under 200 samples whisper.cpp itself would read past the buffer.
    for (size_t count : {150U, 1599U}) {
        EXPECT_EQ(english->transcribe(tone(count), "en", true, 0.0F, 0.0F).text,
                  testing::kEnglishTestTranscript)
            << count;
        EXPECT_EQ(english->detectLanguage(tone(count)).code, "en") << count;
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

TEST_F(WhisperEngineTest, DetectsTheLanguageWithItsProbability) {
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    const LanguageDetection he = hebrew->detectLanguage(tone(24000));
    EXPECT_EQ(he.code, "he");
    EXPECT_GT(he.confidence, 0.99F);
    EXPECT_LE(he.confidence, 1.0F);
    EXPECT_EQ(english->detectLanguage(tone(24000)).code, "en");
    bool logged = false;
    for (const auto& record : sink->records()) {
        logged |= record.level == LogLevel::error &&
                  record.message.starts_with("LANG_DETECT: id=20 iso=he p=") &&
                  record.message.ends_with(" samples=24000");
    }
    EXPECT_TRUE(logged);
}

TEST_F(WhisperEngineTest, ACancelledTaskStopsTheDecode) {
    CancellationToken token;
    token.cancel();
    EXPECT_THROW(english->transcribe(tone(32000), "en", true, 0.0F, 0.0F, token), DecodeCancelled);
    // The engine stays usable.
    EXPECT_EQ(english->transcribe(tone(32000), "en", true, 0.0F, 0.0F).text,
              testing::kEnglishTestTranscript);
}

// Speed options must leave the words alone: the same phrases and the same
// detection with one thread, without flash attention, and
// with the faster encoder switched on and off between calls (detection must
// not keep the last transcription's window).
TEST(WhisperEngineOptions, SpeedOptionsKeepTheTranscripts) {
    bool faster = true;
    WhisperEngine::Options options;
    options.threads = 1;
    options.flashAttention = false;
    options.fasterEncoder = [&faster] { return faster; };
    const auto english = WhisperEngine::create(testModelPath(TestModel::english), {}, options);
    const auto hebrew = WhisperEngine::create(testModelPath(TestModel::hebrew), {}, options);
    for (const bool fasterEncoder : {true, false}) {
        faster = fasterEncoder;
        for (const size_t samples : {size_t{8000}, size_t{16000 * 12}}) {
            SCOPED_TRACE(std::to_string(faster) + ", " + std::to_string(samples));
            EXPECT_EQ(english->transcribe(tone(samples), "en", true, 0.0F, 0.0F).text,
                      testing::kEnglishTestTranscript);
            EXPECT_EQ(hebrew->detectLanguage(tone(samples)).code, "he");
            EXPECT_EQ(hebrew->transcribe(tone(samples), "he", false, 0.0F, 0.0F).text,
                      testing::kHebrewTestTranscript);
            EXPECT_EQ(english->detectLanguage(tone(samples)).code, "en");
        }
    }
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
        std::filesystem::create_directories(sys / ("cpu" + std::to_string(cpu)) / "topology");
        testing::writeFile(
            sys / ("cpu" + std::to_string(cpu)) / "topology" / "thread_siblings_list", list + "\n");
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
