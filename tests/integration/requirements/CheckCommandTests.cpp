#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/PulseRig.h"
#include "support/TempDir.h"
#include "support/XRig.h"

namespace velmarune {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

struct CheckRun {
    int exitCode = -1;
    std::string output;
    std::map<std::string, std::string> outcomes;  // by item, from the JSON report
    int expectedExit = -1;                        // by the overall outcome: 0 pass, 1 warn, 2 block
};

// The real program, with its own folders and only the display and sound
// server the test gives it.
CheckRun check(const std::string& display, const std::string& pulseServer, bool asJson = true) {
    const testing::TempDir home;
    const std::string folders = home.path().string();
    std::vector<std::string> argv = {"env", "-u", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP="};
    argv.push_back("XDG_SESSION_TYPE=" + std::string(display.empty() ? "tty" : ""));
    argv.push_back("DISPLAY=" + display);
    argv.push_back("XDG_DATA_HOME=" + folders);
    argv.push_back("XDG_CONFIG_HOME=" + folders);
    argv.push_back("PULSE_SERVER=" + pulseServer);
    argv.push_back(std::string(VELMARUNE_BINARY_DIR) + "/src/shell/velmarune");
    argv.push_back("check");
    if (asJson) {
        argv.push_back("--json");
    }
    const auto result = testing::runCommand(argv, 30.0);
    CheckRun run;
    run.exitCode = result.exitCode;
    run.output = result.output;
    const auto open = run.output.find('{');
    const auto close = run.output.rfind('}');
    if (asJson && open != std::string::npos && close != std::string::npos) {
        const json report = json::parse(run.output.substr(open, close - open + 1), nullptr, false);
        for (const json& line : report.value("lines", json::array())) {
            run.outcomes[line.value("item", "")] = line.value("outcome", "");
        }
        const std::string outcome = report.value("outcome", "");
        run.expectedExit = outcome == "pass" ? 0 : outcome == "warn" ? 1 : 2;
    }
    return run;
}

TEST(CheckCommandTest, DisplayAndSoundServerDecideTheirLines) {
    testing::XRig x({.windowManager = false});
    ASSERT_TRUE(x.ok());
    testing::PulseRig pulse;
    pulse.start();

    // The rig's server has only an output's monitor: no microphone yet.
    CheckRun run = check(x.display(), pulse.serverAddress());
    EXPECT_EQ(run.outcomes["session"], "pass") << run.output;
    EXPECT_EQ(run.outcomes["microphone"], "warn") << run.output;

    pulse.addVirtualMic("virtmic", 48000, 1, "float32le", "Test Microphone");
    pulse.setDefaultSource("virtmic");
    run = check(x.display(), pulse.serverAddress());
    EXPECT_EQ(run.outcomes["microphone"], "pass") << run.output;
    EXPECT_THAT(run.output, HasSubstr("\"Test Microphone\""));
    EXPECT_EQ(run.exitCode, run.expectedExit) << run.output;

    // Without a sound server the line warns: at least exit 1.
    run = check(x.display(), "unix:/nonexistent/native");
    EXPECT_EQ(run.outcomes["microphone"], "warn") << run.output;
    EXPECT_GE(run.exitCode, 1);
    EXPECT_EQ(run.exitCode, run.expectedExit) << run.output;

    // Without a display it blocks, in plain words.
    run = check("", "unix:/nonexistent/native", false);
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_THAT(run.output, HasSubstr("BLOCK  Desktop session  No display"));
    EXPECT_THAT(run.output, HasSubstr("Models for this computer:"));
}

}  // namespace
}  // namespace velmarune
