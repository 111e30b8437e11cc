#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestModels.h"

namespace velmarune {
namespace {

using testing::TestModel;
using testing::testModelPath;

using CommandRun = testing::CommandResult;

// A shell command line, its standard output and error together.
CommandRun run(const std::string& command) {
    return testing::runCommand({"sh", "-c", command}, 120.0);
}

// A mono 16-bit PCM WAV header for `frames` frames at `rate`.
std::string wavHeader(uint32_t rate, uint32_t frames) {
    std::string h;
    auto put = [&h](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            h += static_cast<char>((value >> (8 * i)) & 0xff);
        }
    };
    h += "RIFF";
    put(36 + frames * 2, 4);
    h += "WAVEfmt ";
    put(16, 4);
    put(1, 2);  // PCM
    put(1, 2);  // mono
    put(rate, 4);
    put(rate * 2, 4);
    put(2, 2);
    put(16, 2);
    h += "data";
    put(frames * 2, 4);
    return h;
}

std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

class TranscribeCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(run("command -v espeak-ng").exitCode, 0)
            << "espeak-ng is missing (Debian package espeak-ng)";
        ASSERT_EQ(run("espeak-ng -v en-us -w " + quoted(m_dir / "speech.wav") +
                      " 'Hello, this is a dictation.'")
                      .exitCode,
                  0);
        ASSERT_TRUE(std::filesystem::exists(m_program)) << m_program;
    }

    // Runs the program with its settings under the temporary folder.
    CommandRun velmarune(const std::string& args) const {
        return run("env XDG_CONFIG_HOME=" + quoted(m_dir / "config") + " " + quoted(m_program) +
                   " transcribe " + args);
    }

    testing::TempDir m_dir;
    std::filesystem::path m_program =
        std::filesystem::path(VELMARUNE_BINARY_DIR) / "src/shell/velmarune";
};

TEST_F(TranscribeCommand, TranscribesASpokenSampleWithTheRoute) {
    const CommandRun r =
        velmarune(quoted(m_dir / "speech.wav") + " --json --hebrew-model " +
                  quoted(testModelPath(TestModel::hebrew)) + " --multilingual-model " +
                  quoted(testModelPath(TestModel::english)));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto json = nlohmann::json::parse(r.output);
    EXPECT_EQ(json["text"], testing::kEnglishTestTranscript);
    EXPECT_EQ(json["loop"], "pass");
    EXPECT_EQ(json["collapsedWords"], 0);
    EXPECT_EQ(json["route"]["language"], "en");
    EXPECT_EQ(json["route"]["slot"], "multilingual");
    EXPECT_GT(json["route"]["confidence"].template get<double>(), 0.99);
}

TEST_F(TranscribeCommand, UsesTheModelSlotsOfTheSettings) {
    testing::writeFile(
        m_dir / "config/velmarune/settings.json",
        nlohmann::json{{"hebrewModelPath", testModelPath(TestModel::hebrew).string()},
                       {"multilingualModelPath", ""}}
            .dump());
    const CommandRun hebrew = velmarune(quoted(m_dir / "speech.wav") + " --language he");
    ASSERT_EQ(hebrew.exitCode, 0) << hebrew.output;
    EXPECT_EQ(hebrew.output, std::string(testing::kHebrewTestTranscript) + "\n");

    const CommandRun english = velmarune(quoted(m_dir / "speech.wav") + " --language en");
    EXPECT_NE(english.exitCode, 0);
    EXPECT_EQ(english.output, "velmarune transcribe: No model assigned to Multilingual slot.\n");
}

TEST_F(TranscribeCommand, ReportsBadInputAndExitsNonZero) {
    const std::string hebrewModel = " --hebrew-model " + quoted(testModelPath(TestModel::hebrew));
    testing::writeFile(m_dir / "notes.txt", "not audio");
    // 40 kB of 16-bit samples whose header claims one sample a second: 5.6 hours.
    testing::writeFile(m_dir / "long.wav", wavHeader(1, 20'000) + std::string(40'000, '\0'));
    struct Case {
        std::string args;
        std::string expected;
    };
    const Case cases[] = {
        {quoted(m_dir / "notes.txt") + " --language he" + hebrewModel,
         "velmarune transcribe: Cannot open audio file at "},
        {quoted(m_dir / "speech.wav") + " --language he --hebrew-model /nonexistent/model.bin",
         "velmarune transcribe: Hebrew slot points to a missing file: /nonexistent/model.bin"},
        {quoted(m_dir / "speech.wav") + " --language he --hebrew-model " +
             quoted(testModelPath(TestModel::corrupt)),
         "velmarune transcribe: " + testModelPath(TestModel::corrupt).string() +
             " is not a whisper model\n"},
        {quoted(m_dir / "speech.wav") + " --language fr",
         "velmarune transcribe: unknown language 'fr' (choose auto, he or en)\nusage: "},
        {quoted(m_dir / "long.wav") + " --language he" + hebrewModel,
         "velmarune transcribe: Audio file is too long: 5.6 hours (the limit is 60 minutes)\n"},
    };
    for (const auto& c : cases) {
        const CommandRun r = velmarune(c.args);
        EXPECT_NE(r.exitCode, 0) << c.args;
        EXPECT_TRUE(r.output.starts_with(c.expected)) << c.args << "\n" << r.output;
    }
}

TEST_F(TranscribeCommand, HelpIsNoErrorAndALostTranscriptIsOne) {
    const CommandRun help = run(quoted(m_program) + " transcribe --help 2>/dev/null");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.starts_with("usage: velmarune transcribe")) << help.output;

    // A full disk behind stdout: the transcript is lost, so the exit says so.
    const CommandRun full =
        run("(env XDG_CONFIG_HOME=" + quoted(m_dir / "config") + " " + quoted(m_program) +
            " transcribe " + quoted(m_dir / "speech.wav") + " --language he --hebrew-model " +
            quoted(testModelPath(TestModel::hebrew)) + " >/dev/full)");
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(full.output,
              "velmarune transcribe: could not write the transcript: No space left on device\n");
}

TEST_F(TranscribeCommand, SaysWhenItMovesABrokenSettingsFileAside) {
    const auto settings = m_dir / "config/velmarune/settings.json";
    testing::writeFile(settings, "{\"pttLanguage\": ");
    const CommandRun r = velmarune(quoted(m_dir / "speech.wav") + " --language he --hebrew-model " +
                                   quoted(testModelPath(TestModel::hebrew)));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(r.output.starts_with("velmarune: the settings file " + settings.string() +
                                     " was not valid; moved it to " + settings.string() +
                                     ".malformed-"))
        << r.output;
    EXPECT_TRUE(r.output.ends_with(std::string(testing::kHebrewTestTranscript) + "\n"));
}

}  // namespace
}  // namespace velmarune
