#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

// Each press follows the previous release at once: later dictations are
// recorded while earlier ones are transcribed, and their pastes wait for the
// keys and for the target to read the paste before.
TEST_F(DictationE2E, DictationsBackToBackArePastedInOrderAndTheClipboardGivenBack) {
    rig.setClipboard("what the user had copied");
    PasteTarget target("E2eTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));

    for (int i = 0; i < 3; ++i) rig.dictate();

    std::optional<std::string> pasted;
    for (int i = 0; i < 3; ++i) {
        pasted = target.waitForPaste(30.0);
        ASSERT_TRUE(pasted) << "paste " << i + 1 << " missing";
        EXPECT_THAT(*pasted, HasSubstr(kEnglishTestTranscript));
    }
    // The heads-up display shows what was pasted, for 1.5 s.
    EXPECT_TRUE(rig.waitForWindow(kEnglishTestTranscript, 1.5)) << "no heads-up display";
    EXPECT_FALSE(target.waitForPaste(1.0)) << "more pastes than dictations";

    // A row is written once the clipboard has been given back, which waits
    // for readers to go quiet: reading the clipboard before would delay it.
    std::vector<std::map<std::string, std::string>> rows;
    waitUntil([&] { return (rows = rig.diagnosticRows()).size() >= 3; }, 10.0, 0.05);
    EXPECT_EQ(rig.clipboard(), "what the user had copied");
    ASSERT_EQ(rows.size(), 3u);
    int previousPress = 0;
    for (const auto& row : rows) {
        EXPECT_EQ(row.at("outcome"), "pasted");
        EXPECT_EQ(row.at("gate"), "pass");
        EXPECT_FALSE(row.at("route").empty());
        EXPECT_EQ(row.at("language"), "en");
        // Rows are written as pastes end: in spoken order each is a later press.
        EXPECT_GT(std::stoi(row.at("press")), previousPress);
        previousPress = std::stoi(row.at("press"));
    }
    EXPECT_EQ(rows.back().at("restore"), "restored");

    // Paste Last Dictation's hot key pastes the same text again.
    for (const char* key : {"Control_L", "Shift_L", "Super_L", "v"}) rig.keyboard().press(key);
    for (const char* key : {"v", "Super_L", "Shift_L", "Control_L"}) rig.keyboard().release(key);
    const auto again = target.waitForPaste(10.0);
    ASSERT_TRUE(again) << "Paste Last Dictation pasted nothing";
    EXPECT_EQ(*again, *pasted);

    // SIGTERM quits cleanly and keeps the settings.
    const auto before = nlohmann::json::parse(readFile(rig.settingsFile()));
    EXPECT_EQ(rig.terminateApplication(), 0);
    EXPECT_THAT(rig.log(), HasSubstr("Quitting: dictation stopped, settings flushed"));
    const auto after = nlohmann::json::parse(readFile(rig.settingsFile()));
    for (const char* key : {"hebrewModelPath", "multilingualModelPath", "DiagnosticPasteLog"}) {
        EXPECT_EQ(after.value(key, nlohmann::json()), before[key]) << key;
    }
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
