#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/Tmpfs.h"
#include "support/XRig.h"

namespace velmarune {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// A key for the requirements window, tried `attempts` times: the window
// manager may not have taken a new window on yet.
void pressInTheWindow(const std::string& key, int attempts) {
    testing::CommandResult pressed;
    for (int attempt = 0; attempt < attempts && pressed.exitCode != 0; ++attempt) {
        pressed = testing::runCommand({"xdotool", "search", "--sync", "--onlyvisible", "--name",
                                       "^Velmarune$", "windowactivate", "--sync", "key", key},
                                      20.0);
    }
    // The window may be gone before xdotool has sent the key's release (it
    // then exits 1): what the application logs next is what counts.
}

// The application's first start on a fresh installation, on a desktop with a
// window manager and no sound server: the check warns, and on a disk too small
// for the models it blocks until "Check Again" finds the room made meanwhile.
// Escape then leaves before the first start is over.
TEST(RequirementsWindowTest, FirstStartWaitsForTheUserBlocksOnAFullDiskAndEscapeQuits) {
    testing::XRig x;
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(testing::requireProgram("xdotool", "xdotool"));
    testing::TempDir home;
    const fs::path dataHome = home / "data";
    const fs::path logFile = home / "app.log";
    const fs::path settings = home / "config/velmarune/settings.json";
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
    if (disk.mounted()) {
        ASSERT_TRUE(logged("requirements window shown (block)")) << testing::readFile(logFile);
        ASSERT_TRUE(disk.resize("6g"));
        // "Check Again" is the default button while blocked.
        pressInTheWindow("Return", 5);
        ASSERT_TRUE(logged("requirements check: warn")) << testing::readFile(logFile);
    } else {
        ASSERT_TRUE(logged("requirements window shown (warn)")) << testing::readFile(logFile);
    }
    // Start-up waits for the user: no engine is loaded behind the window.
    EXPECT_THAT(testing::readFile(logFile), Not(HasSubstr("Engine load")));

    pressInTheWindow("Escape", 1);
    EXPECT_TRUE(logged("Quitting:")) << testing::readFile(logFile);
    EXPECT_NE(app.wait(10.0), -1) << "still running after Escape";
    // Left before the first start was over: the window comes again next time.
    if (fs::exists(settings)) {
        EXPECT_THAT(testing::readFile(settings), Not(HasSubstr("didFirstRunBootstrap")));
    }
    if (!disk.mounted()) {
        GTEST_SKIP() << "a small disk needs a tmpfs, and mounting one needs root (CAP_SYS_ADMIN)";
    }
}

}  // namespace
}  // namespace velmarune
