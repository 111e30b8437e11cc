#include <gtest/gtest.h>

#include "support/Process.h"
#include "support/PulseRig.h"
#include "support/TempDir.h"
#include "support/Tmpfs.h"
#include "support/XRig.h"

namespace velmarune {
namespace {

using testing::TempDir;

// The application's first start on a fresh installation, on a desktop with a
// window manager. Each test leaves a screenshot of the window in
// <build>/artifacts for a person to look at.
class RequirementsWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok());
        ASSERT_TRUE(testing::requireProgram("import", "imagemagick"));
        ASSERT_TRUE(testing::requireProgram("xdotool", "xdotool"));
        std::filesystem::create_directories(dataHome);
    }

    void start(const std::string& pulseServer) {
        app = testing::ChildProcess({std::string(VELMARUNE_BINARY_DIR) + "/src/shell/velmarune"},
                                    {{"HOME", (home / "home").string()},
                                     {"XDG_CONFIG_HOME", (home / "config").string()},
                                     {"XDG_STATE_HOME", (home / "state").string()},
                                     {"XDG_DATA_HOME", dataHome.string()},
                                     {"PULSE_SERVER", pulseServer}},
                                    "/dev/null", logFile.string());
    }

    bool waitForLog(const std::string& text, double seconds = 30.0) {
        return testing::waitUntil(
            [&] { return testing::readFile(logFile).find(text) != std::string::npos; }, seconds,
            0.05);
    }

    void screenshot(const std::string& name) {
        // Give the window manager a moment to draw the frame after a redraw.
        testing::waitUntil([] { return false; }, 0.5);
        const auto folder = std::filesystem::path(VELMARUNE_BINARY_DIR) / "artifacts";
        std::filesystem::create_directories(folder);
        const auto file = folder / ("requirements-window-" + name + ".png");
        const auto result = testing::runCommand({"import", "-window", "root", file.string()}, 20.0);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_GT(std::filesystem::exists(file) ? std::filesystem::file_size(file) : 0, 5000u);
    }

    // The window manager may not have taken a new window on yet: retried.
    void pressInWindow(const std::string& key) {
        testing::CommandResult result;
        for (int attempt = 0; attempt < 5 && result.exitCode != 0; ++attempt) {
            result = testing::runCommand({"xdotool", "search", "--sync", "--onlyvisible", "--name",
                                          "^Velmarune$", "windowactivate", "--sync", "key", key},
                                         20.0);
        }
        EXPECT_EQ(result.exitCode, 0) << result.output;
    }

    testing::XRig x;
    TempDir home;
    std::filesystem::path dataHome = home / "data";
    std::filesystem::path logFile = home / "app.log";
    testing::ChildProcess app;
};

TEST_F(RequirementsWindowTest, ReadyDesktopOffersContinue) {
    testing::PulseRig pulse;
    pulse.start();
    pulse.addVirtualMic("virtmic", 48000, 1, "float32le", "Test Microphone");
    pulse.setDefaultSource("virtmic");
    start(pulse.serverAddress());
    // The outcome depends on the machine the test runs on; the microphone and
    // the session pass here, so it is never blocked.
    ASSERT_TRUE(waitForLog("requirements window shown (")) << testing::readFile(logFile);
    EXPECT_EQ(testing::readFile(logFile).find("requirements window shown (block)"),
              std::string::npos);
    screenshot("ready");
}

TEST_F(RequirementsWindowTest, MissingSoundServerWarns) {
    start("unix:/nonexistent/native");
    ASSERT_TRUE(waitForLog("requirements window shown (warn)")) << testing::readFile(logFile);
    screenshot("warn");
}

TEST_F(RequirementsWindowTest, FullDiskBlocksUntilCheckAgainFindsRoom) {
    testing::Tmpfs disk(dataHome, "64m");
    if (!disk.mounted()) {
        GTEST_SKIP() << "mounting a tmpfs needs root (CAP_SYS_ADMIN)";
    }
    start("unix:/nonexistent/native");
    ASSERT_TRUE(waitForLog("requirements window shown (block)")) << testing::readFile(logFile);
    screenshot("block");

    ASSERT_TRUE(disk.resize("6g"));
    pressInWindow("Return");  // "Check Again" is the default button while blocked
    ASSERT_TRUE(waitForLog("requirements check: warn")) << testing::readFile(logFile);
    screenshot("after-check-again");
}

}  // namespace
}  // namespace velmarune
