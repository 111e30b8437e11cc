#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "DesktopRig.h"
#include "delivery/X11TestClients.h"
#include "hotkeys/XTestKeyboard.h"
#include "support/TestModels.h"

namespace velmarune::testing {
namespace {

using ::testing::HasSubstr;

// The application, started as a user would start it, with generated models
// that always hear " Hello world." in English.
class DictationE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig.ok());
        rig.installModels();
        rig.startApplication();
        ASSERT_TRUE(rig.waitForLog("capture engine started", 60.0)) << rig.log();
        // The virtual microphone delivers its first audio about two seconds
        // after a capture opens it; a press before then hears nothing.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    }

    void TearDown() override {
        if (::testing::Test::HasFailure()) {
            std::cerr << "---- velmarune log ----\n" << rig.log() << "----\n";
        }
    }

    DesktopRig rig;
};

std::vector<std::map<std::string, std::string>> waitForRows(DesktopRig& rig, size_t count) {
    std::vector<std::map<std::string, std::string>> rows;
    waitUntil([&] { return (rows = rig.diagnosticRows()).size() >= count; }, 10.0, 0.05);
    return rows;
}

TEST_F(DictationE2E, SpokenDictationIsPastedAndTheClipboardGivenBack) {
    rig.setClipboard("what the user had copied");
    PasteTarget target("E2eTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));

    rig.dictate();

    const auto pasted = target.waitForPaste(30.0);
    ASSERT_TRUE(pasted) << "nothing was pasted";
    EXPECT_THAT(*pasted, HasSubstr(kEnglishTestTranscript));
    ASSERT_TRUE(rig.waitForLog("-> paste complete", 10.0));
    // The heads-up display shows what was pasted, for 1.5 s.
    EXPECT_TRUE(rig.waitForWindow(kEnglishTestTranscript, 1.5)) << "no heads-up display";

    // The row is written once the clipboard has been given back, which waits
    // for readers to go quiet: reading the clipboard before would delay it.
    const auto rows = waitForRows(rig, 1);
    EXPECT_EQ(rig.clipboard(), "what the user had copied");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("outcome"), "pasted");
    EXPECT_EQ(rows[0].at("gate"), "pass");
    EXPECT_FALSE(rows[0].at("route").empty());
    EXPECT_EQ(rows[0].at("language"), "en");
    EXPECT_EQ(rows[0].at("restore"), "restored");

    // Paste Last Dictation's hot key pastes the same text again.
    for (const char* key : {"Control_L", "Shift_L", "Super_L", "v"}) rig.keyboard().press(key);
    for (const char* key : {"v", "Super_L", "Shift_L", "Control_L"}) rig.keyboard().release(key);
    const auto again = target.waitForPaste(10.0);
    ASSERT_TRUE(again) << "Paste Last Dictation pasted nothing";
    EXPECT_EQ(*again, *pasted);
}

// The audio server stops answering (SIGSTOP) as the chord is released: the
// dictation already recorded is still queued, decoded and pasted, and the
// application carries on once the server does.
TEST_F(DictationE2E, AReleaseWithTheAudioServerStoppedIsStillPasted) {
    PasteTarget target("E2eTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));
    rig.dictate([&] { kill(rig.audioServerPid(), SIGSTOP); });
    const auto pasted = target.waitForPaste(30.0);
    kill(rig.audioServerPid(), SIGCONT);
    ASSERT_TRUE(pasted) << "nothing was pasted";
    EXPECT_THAT(*pasted, HasSubstr(kEnglishTestTranscript));

    // A stream the stop broke is opened again; its first audio takes a moment.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    rig.dictate();
    EXPECT_TRUE(target.waitForPaste(30.0)) << "no dictation after the server went on";
}

TEST_F(DictationE2E, ThreeDictationsBackToBackArePastedInTheOrderSpoken) {
    PasteTarget target("E2eTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));

    // Each press follows the previous release at once: later dictations are
    // recorded while earlier ones are transcribed, and their pastes wait for
    // the keys and for the target to read the paste before.
    rig.dictate();
    rig.dictate();
    rig.dictate();

    for (int i = 0; i < 3; ++i) {
        const auto pasted = target.waitForPaste(30.0);
        ASSERT_TRUE(pasted) << "paste " << i + 1 << " missing";
        EXPECT_THAT(*pasted, HasSubstr(kEnglishTestTranscript));
    }
    const auto rows = waitForRows(rig, 3);
    ASSERT_EQ(rows.size(), 3u);
    std::string previousKeyDown;
    std::string previousPress;
    for (const auto& row : rows) {
        EXPECT_EQ(row.at("outcome"), "pasted");
        // Rows are written as pastes end: in spoken order each is a later press.
        EXPECT_GE(row.at("key_down"), previousKeyDown);
        EXPECT_GT(std::stoi(row.at("press")), previousPress.empty() ? 0 : std::stoi(previousPress));
        previousKeyDown = row.at("key_down");
        previousPress = row.at("press");
    }
    EXPECT_FALSE(target.waitForPaste(1.0)) << "more pastes than dictations";

    // SIGTERM quits cleanly and keeps the settings.
    const auto before = nlohmann::json::parse(readFile(rig.settingsFile()));
    EXPECT_EQ(rig.terminateApplication(), 0);
    EXPECT_THAT(rig.log(), HasSubstr("Quitting: dictation stopped, settings flushed"));
    const auto after = nlohmann::json::parse(readFile(rig.settingsFile()));
    for (const char* key : {"hebrewModelPath", "multilingualModelPath", "DiagnosticPasteLog"}) {
        EXPECT_EQ(after.value(key, nlohmann::json()), before[key]) << key;
    }
}

TEST_F(DictationE2E, DictationIsNotPastedIntoAWindowThatReplacedTheTarget) {
    PasteTarget target("E2eTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));

    // Shift up ends the dictation; Control still held keeps the paste waiting
    // while another application's window takes the focus.
    rig.keyboard().press("Control_L");
    rig.keyboard().press("Shift_L");
    rig.speak();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    rig.keyboard().release("Shift_L");
    ASSERT_TRUE(rig.waitForLog("-> queued", 10.0));
    PasteTarget other("E2eOther");
    ASSERT_TRUE(other.waitUntilActive(5.0));
    rig.keyboard().release("Control_L");

    EXPECT_TRUE(rig.waitForLog("NOT_PASTED: app changed", 20.0));
    const auto panel = rig.waitForWindow("Didn't paste", 5.0);
    ASSERT_TRUE(panel) << "no didn't-paste panel";
    EXPECT_FALSE(other.waitForPaste(1.0)) << "pasted into the window that took the focus";
    EXPECT_FALSE(target.waitForPaste(0.1)) << "pasted into a window no longer in front";
    // Its Paste button: DesktopViewsX11.PasteButtonPastesIntoTheFocusedWindow...
}

// The package test runs this against the installed program too.
TEST(DictationE2EStartUp, ReachesReadyAndPointsAStaleLoginEntryAtTheProgramThatRan) {
    DesktopRig rig;
    ASSERT_TRUE(rig.ok());
    rig.installModels();  // a later start: the first one registered for login...
    // ...from a program that has moved away since.
    writeFile(rig.autostartEntry(),
              "[Desktop Entry]\nType=Application\nName=Velmarune\nExec=\"/gone/velmarune\"\n");
    const auto start = std::chrono::steady_clock::now();
    rig.startApplication();
    ASSERT_TRUE(rig.waitForLog("Engine load — both ready", 60.0)) << rig.log();
    const auto readyMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    std::cout << "start-up to ready: " << readyMs << " ms (" << rig.applicationBinary().string()
              << ")\n";
    // A package build names the ggml CPU code it picked for this processor.
    const std::string log = rig.log();
    if (const auto at = log.find("ggml CPU variant: "); at != std::string::npos) {
        std::cout << log.substr(at, log.find('\n', at) - at) << "\n";
    }

    // The entry now names the program that ran, rewritten in place.
    const std::string entry = readFile(rig.autostartEntry());
    EXPECT_THAT(entry, HasSubstr("\nExec=\"" + rig.applicationBinary().string() + "\"\n"));
    EXPECT_THAT(entry, HasSubstr("\nX-GNOME-Autostart-enabled=true\n"));
    EXPECT_EQ(rig.terminateApplication(), 0);
}

TEST(DictationE2EWithoutModels, StartsNeedingBothModelsAndQuitsOnSigterm) {
    DesktopRig rig;
    ASSERT_TRUE(rig.ok());
    std::filesystem::create_directories(rig.settingsFile().parent_path());
    writeFile(rig.settingsFile(), R"({"didFirstRunBootstrap": true})");
    rig.startApplication();
    EXPECT_TRUE(rig.waitForLog("engine status: needsModels (Hebrew, Multilingual)", 60.0))
        << rig.log();
    EXPECT_THAT(rig.log(), ::testing::Not(HasSubstr("capture engine started")));
    EXPECT_EQ(rig.terminateApplication(), 0) << rig.log();
    EXPECT_THAT(rig.log(), HasSubstr("Quitting:"));
}

TEST(DictationE2EFirstStart, RequirementsWindowComesFirstAndEscapeQuits) {
    DesktopRig rig;
    ASSERT_TRUE(rig.ok());
    ASSERT_TRUE(requireProgram("xdotool", "xdotool"));
    rig.startApplication();
    ASSERT_TRUE(rig.waitForLog("requirements window shown", 60.0)) << rig.log();
    // Start-up waits for the user: no engine is loaded behind the window.
    EXPECT_THAT(rig.log(), ::testing::Not(HasSubstr("Engine load")));
    // The window may be gone before xdotool has sent the key's release (it
    // then exits 1): the quit below is what counts.
    runCommand({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Velmarune$",
                "windowactivate", "--sync", "key", "Escape"},
               20.0);
    EXPECT_TRUE(waitUntil([&] { return rig.log().find("Quitting:") != std::string::npos; }, 20.0))
        << rig.log();
    // Left before the first start was over: the window comes again next time.
    if (std::filesystem::exists(rig.settingsFile())) {
        EXPECT_THAT(readFile(rig.settingsFile()),
                    ::testing::Not(HasSubstr("didFirstRunBootstrap")));
    }
}

}  // namespace
}  // namespace velmarune::testing
