#include <gtest/gtest.h>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/Tmpfs.h"
#include "support/XRig.h"

namespace velmarune {
namespace {

namespace fs = std::filesystem;

// Leaves a picture of the screen in <build>/artifacts for a person to look at.
void screenshot(const std::string& name) {
    // Give the window manager a moment to draw the frame after a redraw.
    testing::waitUntil([] { return false; }, 0.5);
    const auto folder = fs::path(VELMARUNE_BINARY_DIR) / "artifacts";
    fs::create_directories(folder);
    const auto file = folder / ("requirements-window-" + name + ".png");
    const auto result = testing::runCommand({"import", "-window", "root", file.string()}, 20.0);
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

// The application's first start on a fresh installation, on a desktop with a
// window manager and no sound server: the check warns, and on a disk too small
// for the models it blocks until "Check Again" finds the room made meanwhile.
TEST(RequirementsWindowTest, FullDiskBlocksUntilCheckAgainFindsRoom) {
    testing::XRig x;
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(testing::requireProgram("import", "imagemagick"));
    ASSERT_TRUE(testing::requireProgram("xdotool", "xdotool"));
    testing::TempDir home;
    const fs::path dataHome = home / "data";
    const fs::path logFile = home / "app.log";
    fs::create_directories(dataHome);
    testing::Tmpfs disk(dataHome, "64m");
    testing::ChildProcess app({std::string(VELMARUNE_BINARY_DIR) + "/src/shell/velmarune"},
                              {{"HOME", (home / "home").string()},
                               {"XDG_CONFIG_HOME", (home / "config").string()},
                               {"XDG_STATE_HOME", (home / "state").string()},
                               {"XDG_DATA_HOME", dataHome.string()},
                               {"PULSE_SERVER", "unix:/nonexistent/native"}},
                              "/dev/null", logFile.string());
    const auto logged = [&](const std::string& text) {
        return testing::waitUntil(
            [&] { return testing::readFile(logFile).find(text) != std::string::npos; }, 30.0, 0.05);
    };
    if (!disk.mounted()) {
        ASSERT_TRUE(logged("requirements window shown (warn)")) << testing::readFile(logFile);
        GTEST_SKIP() << "a small disk needs a tmpfs, and mounting one needs root (CAP_SYS_ADMIN)";
    }
    ASSERT_TRUE(logged("requirements window shown (block)")) << testing::readFile(logFile);
    screenshot("block");

    ASSERT_TRUE(disk.resize("6g"));
    // "Check Again" is the default button while blocked. The window manager
    // may not have taken the new window on yet: retried.
    testing::CommandResult pressed;
    for (int attempt = 0; attempt < 5 && pressed.exitCode != 0; ++attempt) {
        pressed = testing::runCommand({"xdotool", "search", "--sync", "--onlyvisible", "--name",
                                       "^Velmarune$", "windowactivate", "--sync", "key", "Return"},
                                      20.0);
    }
    EXPECT_EQ(pressed.exitCode, 0) << pressed.output;
    ASSERT_TRUE(logged("requirements check: warn")) << testing::readFile(logFile);
    screenshot("after-check-again");
}

}  // namespace
}  // namespace velmarune
