#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/PulseRig.h"
#include "support/TempDir.h"
#include "support/XRig.h"

namespace velmarune {
namespace {

using nlohmann::json;
using testing::TempDir;

struct CheckRun {
    int exitCode = -1;
    std::string output;
    json report;

    std::string outcomeOf(const std::string& item) const {
        for (const json& line : report.value("lines", json::array())) {
            if (line.value("item", "") == item) {
                return line.value("outcome", "");
            }
        }
        return "missing";
    }
};

// The real program, with its own folders and only the display and sound
// server the test gives it.
class CheckCommandTest : public ::testing::Test {
  protected:
    CheckRun check(const std::map<std::string, std::string>& extraEnv, bool json = true) {
        std::vector<std::string> argv = {"env",
                                         "-u",
                                         "DISPLAY",
                                         "-u",
                                         "WAYLAND_DISPLAY",
                                         "XDG_SESSION_TYPE=",
                                         "XDG_CURRENT_DESKTOP=",
                                         "XDG_DATA_HOME=" + dataHome.string(),
                                         "XDG_CONFIG_HOME=" + (home / "config").string()};
        for (const auto& [key, value] : extraEnv) {
            argv.push_back(key + "=" + value);
        }
        argv.push_back(std::string(VELMARUNE_BINARY_DIR) + "/src/shell/velmarune");
        argv.push_back("check");
        if (json) {
            argv.push_back("--json");
        }
        CheckRun run;
        const auto result = testing::runCommand(argv, 30.0);
        run.exitCode = result.exitCode;
        run.output = result.output;
        const auto open = run.output.find('{');
        const auto close = run.output.rfind('}');
        if (json && open != std::string::npos && close != std::string::npos) {
            run.report = json::parse(run.output.substr(open, close - open + 1), nullptr, false);
        }
        return run;
    }

    // Exit status by the overall outcome: 0 pass, 1 warn, 2 block.
    static int statusFor(const json& report) {
        const std::string outcome = report.value("outcome", "");
        return outcome == "pass" ? 0 : outcome == "warn" ? 1 : 2;
    }

    TempDir home;
    std::filesystem::path dataHome = home / "data";
};

TEST_F(CheckCommandTest, DisplayAndSoundServerDecideTheirLines) {
    testing::XRig x({.windowManager = false});
    ASSERT_TRUE(x.ok());
    testing::PulseRig pulse;
    pulse.start();

    // The rig's server has only an output's monitor: no microphone yet.
    CheckRun run = check({{"DISPLAY", x.display()}, {"PULSE_SERVER", pulse.serverAddress()}});
    EXPECT_EQ(run.outcomeOf("session"), "pass") << run.output;
    EXPECT_EQ(run.outcomeOf("microphone"), "warn") << run.output;
    EXPECT_NE(run.output.find("No microphone found"), std::string::npos) << run.output;

    pulse.addVirtualMic("virtmic", 48000, 1, "float32le", "Test Microphone");
    pulse.setDefaultSource("virtmic");
    run = check({{"DISPLAY", x.display()}, {"PULSE_SERVER", pulse.serverAddress()}});
    EXPECT_EQ(run.outcomeOf("microphone"), "pass") << run.output;
    EXPECT_NE(run.output.find("\"Test Microphone\""), std::string::npos) << run.output;
    EXPECT_EQ(run.exitCode, statusFor(run.report)) << run.output;

    // Without a sound server the line warns: at least exit 1.
    run = check({{"DISPLAY", x.display()}, {"PULSE_SERVER", "unix:/nonexistent/native"}});
    EXPECT_EQ(run.outcomeOf("microphone"), "warn") << run.output;
    EXPECT_NE(run.output.find("No sound server"), std::string::npos) << run.output;
    EXPECT_GE(run.exitCode, 1);
    EXPECT_EQ(run.exitCode, statusFor(run.report)) << run.output;
}

TEST_F(CheckCommandTest, WithoutADisplayItBlocksInPlainWords) {
    const CheckRun run =
        check({{"PULSE_SERVER", "unix:/nonexistent/native"}, {"XDG_SESSION_TYPE", "tty"}}, false);
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find("Velmarune can't start yet"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("BLOCK  Desktop session  No display"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Models for this computer:"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace velmarune
