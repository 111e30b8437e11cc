#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "DesktopRig.h"
#include "support/SwayRig.h"
#include "support/TestModels.h"

namespace velmarune::testing {
namespace {

using ::testing::HasSubstr;

// The application on a wlroots desktop: its window on X (as through
// XWayland), push-to-talk from `velmarune ptt` as a compositor binding runs
// it, the dictation pasted into a native Wayland terminal through the
// compositor's clipboard and a virtual keyboard, and the copy from before
// given back.
TEST(WaylandDictationE2E, SpokenDictationIsPastedIntoANativeWaylandTerminal) {
    SwayRig sway;
    if (!sway.ok()) {
        GTEST_SKIP() << "no headless sway: " << sway.failure();
    }
    DesktopRig rig;
    ASSERT_TRUE(rig.ok());
    const auto typed = sway.dir() / "typed";
    ASSERT_TRUE(sway.startTarget("foot", typed));
    ChildProcess previous({"wl-copy", "--foreground", "what the user had copied"},
                          sway.clientEnvironment());
    ASSERT_TRUE(waitUntil(
        [&] { return sway.run("wl-paste --no-newline") == "what the user had copied"; }, 5.0));

    // An input folder with a node that is no keyboard: the listener waits for
    // one, and only the push-to-talk control starts a dictation.
    std::filesystem::create_directories(sway.dir() / "input");
    writeFile(sway.dir() / "input" / "event0", "");
    rig.extraEnvironment = {{"WAYLAND_DISPLAY", sway.waylandSocket()},
                            {"SWAYSOCK", sway.swaySocket()},
                            {"VELMARUNE_INPUT_FOLDER", (sway.dir() / "input").string()}};
    rig.installModels();
    rig.startApplication();
    ASSERT_TRUE(rig.waitForLog("capture engine started", 60.0)) << rig.log();
    EXPECT_THAT(rig.log(), HasSubstr("Wayland front window: sway IPC"));
    // The virtual microphone's first audio comes about two seconds after it opens.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    // Driven as a compositor binding drives it, with no keyboard read at all.
    std::string errors;
    ASSERT_EQ(rig.runVelmarune({"ptt", "press"}, &errors), 0) << errors;
    rig.speak();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // capture trails the player
    ASSERT_EQ(rig.runVelmarune({"ptt", "release"}, &errors), 0) << errors;
    EXPECT_TRUE(waitUntil(
        [&] { return readFile(typed).find(kEnglishTestTranscript) != std::string::npos; }, 30.0))
        << "typed: " << readFile(typed) << "\n"
        << rig.log();
    ASSERT_TRUE(rig.waitForLog("-> paste complete", 10.0));
    std::vector<std::map<std::string, std::string>> rows;
    waitUntil([&] { return !(rows = rig.diagnosticRows()).empty(); }, 10.0, 0.05);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("outcome"), "pasted");
    EXPECT_EQ(rows[0].at("restore"), "restored");
    EXPECT_EQ(sway.run("wl-paste --no-newline"), "what the user had copied");
    if (::testing::Test::HasFailure()) {
        std::cerr << "---- velmarune log ----\n" << rig.log() << "----\n";
    }
}

}  // namespace
}  // namespace velmarune::testing
