#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestModels.h"

namespace velmarune {
namespace {

using testing::CommandResult;
using testing::TestModel;
using testing::testModelPath;

// A shell command line, its standard output and error together.
CommandResult run(const std::string& command) {
    return testing::runCommand({"sh", "-c", command}, 120.0);
}

std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// The real program on a spoken sample, its settings under a temporary folder.
class TranscribeCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(run("command -v espeak-ng").exitCode, 0)
            << "espeak-ng is missing (Debian package espeak-ng)";
        ASSERT_EQ(
            run("espeak-ng -v en-us -w " + speech + " 'Hello, this is a dictation.'").exitCode, 0);
        ASSERT_TRUE(std::filesystem::exists(m_program)) << m_program;
    }

    CommandResult velmarune(const std::string& args) const {
        return run("env XDG_CONFIG_HOME=" + quoted(m_dir / "config") + " " + quoted(m_program) +
                   " transcribe " + args);
    }

    testing::TempDir m_dir;
    std::filesystem::path m_program =
        std::filesystem::path(VELMARUNE_BINARY_DIR) / "src/shell/velmarune";
    const std::string speech = quoted(m_dir / "speech.wav");
    const std::string hebrewModel = " --hebrew-model " + quoted(testModelPath(TestModel::hebrew));
};

TEST_F(TranscribeCommand, TranscribesASpokenSampleWithTheRoute) {
    const CommandResult r = velmarune(speech + " --json" + hebrewModel + " --multilingual-model " +
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

TEST_F(TranscribeCommand, UsesTheModelSlotsOfTheSettingsAndSaysWhenItMovesThemAside) {
    const auto settings = m_dir / "config/velmarune/settings.json";
    testing::writeFile(
        settings, nlohmann::json{{"hebrewModelPath", testModelPath(TestModel::hebrew).string()},
                                 {"multilingualModelPath", ""}}
                      .dump());
    const CommandResult hebrew = velmarune(speech + " --language he");
    ASSERT_EQ(hebrew.exitCode, 0) << hebrew.output;
    EXPECT_EQ(hebrew.output, std::string(testing::kHebrewTestTranscript) + "\n");

    const CommandResult english = velmarune(speech + " --language en");
    EXPECT_NE(english.exitCode, 0);
    EXPECT_EQ(english.output, "velmarune transcribe: No model assigned to Multilingual slot.\n");

    testing::writeFile(settings, "{\"pttLanguage\": ");
    const CommandResult r = velmarune(speech + " --language he" + hebrewModel);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(r.output.starts_with("velmarune: the settings file " + settings.string() +
                                     " was not valid; moved it to " + settings.string() +
                                     ".malformed-"))
        << r.output;
    EXPECT_TRUE(r.output.ends_with(std::string(testing::kHebrewTestTranscript) + "\n"));
}

TEST_F(TranscribeCommand, ReportsBadInputAndALostTranscriptAndExitsNonZero) {
    const auto corrupt = testModelPath(TestModel::corrupt);
    struct Case {
        std::string args;
        int status;
        std::string expected;
    };
    const Case cases[] = {
        {"--help", 0, "usage: velmarune transcribe"},
        {speech + " --language he --hebrew-model /nonexistent/model.bin", 1,
         "velmarune transcribe: Hebrew slot points to a missing file: /nonexistent/model.bin"},
        // Stands for every error the engine and the decoder raise (their
        // words are their own suites').
        {speech + " --language he --hebrew-model " + quoted(corrupt), 1,
         "velmarune transcribe: " + corrupt.string() + " is not a whisper model\n"},
        {speech + " --language fr", 2,
         "velmarune transcribe: unknown language 'fr' (choose auto, he or en)\nusage: "},
        // A full disk behind stdout: the transcript is lost, so the exit says so.
        {speech + " --language he" + hebrewModel + " >/dev/full", 1,
         "velmarune transcribe: could not write the transcript: No space left on device\n"},
    };
    for (const Case& c : cases) {
        const CommandResult r = velmarune(c.args);
        EXPECT_EQ(r.exitCode, c.status) << c.args;
        EXPECT_TRUE(r.output.starts_with(c.expected)) << c.args << "\n" << r.output;
    }
}

}  // namespace
}  // namespace velmarune
