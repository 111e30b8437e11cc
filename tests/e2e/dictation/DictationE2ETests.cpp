#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "DesktopRig.h"
#include "delivery/X11TestClients.h"
#include "support/SwayRig.h"
#include "support/TestModels.h"
#include "support/Tmpfs.h"

namespace velmarune::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Takes every free byte of the file system under `folder`.
void fill(const std::filesystem::path& folder) {
    std::ofstream filler(folder / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
}

// The application, started as a user would start it, with generated models
// that always hear " Hello world." in English.
class DictationE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig.ok());
        rig.installModels();
    }

    void start() {
        rig.startApplication();
        ASSERT_TRUE(rig.waitForLog("capture engine started", 60.0)) << rig.log();
        // The virtual microphone delivers its first audio about two seconds
        // after a capture opens it; a press before then hears nothing.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        settingsBefore = readFile(rig.settingsFile());
    }

    void TearDown() override {
        if (::testing::Test::HasFailure()) {
            std::cerr << "---- velmarune log ----\n" << rig.log() << "----\n";
        }
    }

    void expectDictationPasted(PasteTarget& target) {
        rig.dictate();
        EXPECT_EQ(target.waitForPaste(30.0), std::optional<std::string>(kEnglishTestTranscript));
    }

    void expectSettingsIntact() { EXPECT_EQ(readFile(rig.settingsFile()), settingsBefore); }

    DesktopRig rig;
    std::string settingsBefore;
};
// The package test runs these against the installed program too.
using DictationE2EStartUp = DictationE2E;

// Each press follows the previous release at once: later dictations are
// recorded while earlier ones are transcribed, and their pastes wait for the
// keys and for the target to read the paste before.
TEST_F(DictationE2E, DictationsBackToBackArePastedInOrderAndTheClipboardGivenBack) {
    start();
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
        EXPECT_EQ(row.at("language"), "en");
        // Rows are written as pastes end: in spoken order each is a later press.
        EXPECT_GT(std::stoi(row.at("press")), previousPress);
        previousPress = std::stoi(row.at("press"));
    }

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

TEST_F(DictationE2EStartUp, ReachesReadyAndPointsAStaleLoginEntryAtTheProgramThatRan) {
    // A later start: the first one registered for login from a program that
    // has moved away since.
    writeFile(rig.autostartEntry(),
              "[Desktop Entry]\nType=Application\nName=Velmarune\nExec=\"/gone/velmarune\"\n");
    const auto began = std::chrono::steady_clock::now();
    rig.startApplication();
    ASSERT_TRUE(rig.waitForLog("Engine load — both ready", 60.0)) << rig.log();
    const auto readyMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - began)
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
    EXPECT_EQ(rig.terminateApplication(), 0);
}

TEST_F(DictationE2E, ASecondStartAsksTheFirstToShowItselfAndCommandsStillRun) {
    start();
    std::string errors;
    EXPECT_EQ(rig.runVelmarune({}, &errors), 0);
    EXPECT_THAT(errors, HasSubstr("Velmarune is already running; it was asked to show itself."));
    // Starting it again from the launcher is how a tray application's settings are reached.
    EXPECT_TRUE(rig.waitForWindow("Velmarune Settings", 10.0)) << "no settings window shown";
    EXPECT_NE(::kill(rig.applicationPid(), 0), -1) << "the first instance went away";

    // The terminal commands never wait for or give way to the application.
    EXPECT_EQ(rig.runVelmarune({"models", "--help"}, &errors), 0);
    EXPECT_THAT(errors, Not(HasSubstr("already running")));
}

TEST_F(DictationE2E, TheXServerGoingAwayEndsTheApplicationWithAClearMessage) {
    start();
    rig.killXServer();

    const int status = rig.waitForApplicationExit(20.0);
    ASSERT_NE(status, -1) << "still running 20 s after the X server died";
    ASSERT_TRUE(WIFEXITED(status))
        << "ended by signal " << WTERMSIG(status) << (WCOREDUMP(status) ? " (core dumped)" : "");
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_THAT(rig.log(), HasSubstr("velmarune: the X display went away; quitting"));
    expectSettingsIntact();
}

// The audio server stops answering (SIGSTOP) as the chord is released and
// stays stopped for ten seconds: the dictation already recorded is still
// pasted, and once the server answers again dictation works as before.
TEST_F(DictationE2E, AnAudioServerStoppedAtTheReleaseIsSurvived) {
    start();
    PasteTarget target("FaultTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));
    const auto stopped = std::chrono::steady_clock::now();
    rig.dictate([&] { ::kill(rig.audioServerPid(), SIGSTOP); });
    const auto pasted = target.waitForPaste(30.0);
    std::this_thread::sleep_until(stopped + std::chrono::seconds(10));
    ::kill(rig.audioServerPid(), SIGCONT);
    EXPECT_EQ(pasted, std::optional<std::string>(kEnglishTestTranscript));

    // The capture the watchdog could not reopen while the server was stopped
    // is reopened by the next press, whose own start is lost while the new
    // stream opens.
    std::optional<std::string> again;
    for (int attempt = 0; attempt < 3 && !again; ++attempt) {
        rig.dictate();
        again = target.waitForPaste(15.0);
    }
    EXPECT_EQ(again, std::optional<std::string>(kEnglishTestTranscript));
}

// Nothing on the paste path may wait on the session bus, and losing it is not fatal.
TEST_F(DictationE2E, ASessionBusStoppedAtTheReleaseOrGoneDoesNotHoldThePaste) {
    start();
    PasteTarget target("FaultTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));
    const pid_t bus = rig.busPid();
    rig.dictate([&] { ::kill(bus, SIGSTOP); });
    const auto pasted = target.waitForPaste(15.0);
    ::kill(bus, SIGCONT);
    EXPECT_EQ(pasted, std::optional<std::string>(kEnglishTestTranscript));

    rig.stopSessionBus();
    EXPECT_TRUE(rig.waitForLog("session bus connection lost", 10.0));
    expectDictationPasted(target);
    EXPECT_EQ(rig.terminateApplication(), 0);
}

TEST_F(DictationE2E, AFullDiskLosesDiagnosticRowsButNoDictationsAndCorruptsNothing) {
    Tmpfs config(rig.folder("config"), "256k,mode=0700");
    Tmpfs state(rig.folder("state"), "256k,mode=0700");
    ASSERT_TRUE(config.mounted() && state.mounted()) << "cannot mount tmpfs (needs root)";
    rig.installModels();  // into the new, small file systems
    fill(rig.folder("config"));
    fill(rig.folder("state"));
    start();
    PasteTarget target("FaultTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));
    expectDictationPasted(target);
    expectDictationPasted(target);
    // A press's row is due once the clipboard has been given back.
    EXPECT_TRUE(rig.waitForLog(",pasted,", 10.0));
    EXPECT_TRUE(rig.waitForLog(",pasted,", 10.0));
    EXPECT_EQ(rig.terminateApplication(), 0);

    const std::string log = rig.log();
    const std::string error = "not written: No space left on device";
    EXPECT_THAT(log, HasSubstr(error));
    EXPECT_EQ(log.find(error), log.rfind(error)) << "the same failure reported more than once";
    // No half row: the file was never started or holds nothing.
    EXPECT_EQ(readFile(rig.diagnosticsFile()), "");
    expectSettingsIntact();
}

// The application on a wlroots desktop: its window on X (as through
// XWayland), push-to-talk from `velmarune ptt` as a compositor binding runs
// it, the dictation pasted into a native Wayland terminal through the
// compositor's clipboard and a virtual keyboard, and the copy from before
// given back.
TEST_F(DictationE2E, OnWaylandSpokenDictationIsPastedIntoANativeWaylandTerminal) {
    SwayRig sway;
    if (!sway.ok()) {
        GTEST_SKIP() << "no headless sway: " << sway.failure();
    }
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
    start();
    EXPECT_THAT(rig.log(), HasSubstr("Wayland front window: sway IPC"));

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
    // The press's row is written once the copy has been given back; reading
    // the clipboard before would delay that.
    EXPECT_TRUE(waitUntil([&] { return !rig.diagnosticRows().empty(); }, 10.0, 0.05));
    EXPECT_EQ(sway.run("wl-paste --no-newline"), "what the user had copied");
}

}  // namespace
}  // namespace velmarune::testing
