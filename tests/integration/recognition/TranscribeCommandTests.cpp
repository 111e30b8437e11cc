#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "support/TempDir.h"
#include "support/TestModels.h"

namespace velmarune {
namespace {

using testing::TestModel;
using testing::testModelPath;

struct CommandRun {
    int status;
    std::string output;  // stdout and stderr together
};

CommandRun run(const std::string& command) {
    CommandRun result{-1, {}};
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer{};
    while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
        result.output.append(buffer.data(), n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

class TranscribeCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(run("command -v espeak-ng").status, 0)
            << "espeak-ng is missing (Debian package espeak-ng)";
        ASSERT_EQ(run("espeak-ng -v en-us -w " + quoted(m_dir / "speech.wav") +
                      " 'Hello, this is a dictation.'")
                      .status,
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
    ASSERT_EQ(r.status, 0) << r.output;
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
    ASSERT_EQ(hebrew.status, 0) << hebrew.output;
    EXPECT_EQ(hebrew.output, std::string(testing::kHebrewTestTranscript) + "\n");

    const CommandRun english = velmarune(quoted(m_dir / "speech.wav") + " --language en");
    EXPECT_NE(english.status, 0);
    EXPECT_EQ(english.output, "velmarune transcribe: No model assigned to Multilingual slot.\n");
}

TEST_F(TranscribeCommand, ReportsBadInputAndExitsNonZero) {
    const std::string hebrewModel = " --hebrew-model " + quoted(testModelPath(TestModel::hebrew));
    testing::writeFile(m_dir / "notes.txt", "not audio");
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
         "velmarune transcribe: whisper_init_from_file_with_params failed for "},
        {quoted(m_dir / "speech.wav") + " --language fr", "usage: velmarune transcribe"},
    };
    for (const auto& c : cases) {
        const CommandRun r = velmarune(c.args);
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_TRUE(r.output.starts_with(c.expected)) << c.args << "\n" << r.output;
    }
}

}  // namespace
}  // namespace velmarune
