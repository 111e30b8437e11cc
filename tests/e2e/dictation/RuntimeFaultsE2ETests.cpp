#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "DesktopRig.h"
#include "delivery/X11TestClients.h"
#include "hotkeys/XTestKeyboard.h"
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

// The application, started as a user would start it, while the things under
// it fail.
class RuntimeFaultsE2E : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(rig.ok()); }

    void start() {
        rig.startApplication();
        ASSERT_TRUE(rig.waitForLog("capture engine started", 60.0)) << rig.log();
        // The virtual microphone's first audio comes about two seconds after
        // a capture opens it.
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
        const auto pasted = target.waitForPaste(30.0);
        ASSERT_TRUE(pasted.has_value()) << "nothing pasted";
        EXPECT_EQ(*pasted, kEnglishTestTranscript);
    }

    void expectSettingsIntact() { EXPECT_EQ(readFile(rig.settingsFile()), settingsBefore); }

    DesktopRig rig;
    std::string settingsBefore;
};

TEST_F(RuntimeFaultsE2E, ASecondStartAsksTheFirstToShowItselfAndCommandsStillRun) {
    rig.installModels();
    start();
    std::string errors;
    EXPECT_EQ(rig.runVelmarune({}, &errors), 0);
    EXPECT_THAT(errors, HasSubstr("Velmarune is already running; it was asked to show itself."));
    EXPECT_TRUE(rig.waitForLog("a second start asked this instance to show itself", 5.0));
    // Starting it again from the launcher is how a tray application's settings are reached.
    EXPECT_TRUE(rig.waitForWindow("Velmarune Settings", 10.0)) << "no settings window shown";
    EXPECT_NE(::kill(rig.applicationPid(), 0), -1) << "the first instance went away";

    // The terminal commands never wait for or give way to the application.
    EXPECT_EQ(rig.runVelmarune({"models", "--help"}, &errors), 0);
    EXPECT_THAT(errors, Not(HasSubstr("already running")));
}

TEST_F(RuntimeFaultsE2E, TheXServerGoingAwayEndsTheApplicationWithAClearMessage) {
    rig.installModels();
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
TEST_F(RuntimeFaultsE2E, AnAudioServerStoppedAtTheReleaseIsSurvived) {
    rig.installModels();
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
TEST_F(RuntimeFaultsE2E, ASessionBusStoppedAtTheReleaseOrGoneDoesNotHoldThePaste) {
    rig.installModels();
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

TEST_F(RuntimeFaultsE2E, AFullDiskLosesDiagnosticRowsButNoDictationsAndCorruptsNothing) {
    Tmpfs config(rig.folder("config"), "256k,mode=0700");
    Tmpfs state(rig.folder("state"), "256k,mode=0700");
    ASSERT_TRUE(config.mounted() && state.mounted()) << "cannot mount tmpfs (needs root)";
    rig.installModels();
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

}  // namespace
}  // namespace velmarune::testing
