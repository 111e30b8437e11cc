#include "DesktopRig.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "delivery/X11TestClients.h"
#include "support/CsvRow.h"
#include "support/TestModels.h"

namespace velmarune::testing {

DesktopRig::DesktopRig() {
    if (!requireProgram("xclip", "xclip") || !requireProgram("xdotool", "xdotool")) {
        return;
    }
    for (const char* sub : {"home", "config", "data", "state", "cache", "run"}) {
        std::filesystem::create_directories(m_dir / sub);
        chmod((m_dir / sub).c_str(), 0700);
    }
    m_x = std::make_unique<XRig>();
    if (!m_x->ok()) {
        return;
    }
    m_keyboard = std::make_unique<XTestKeyboard>();
    m_pulse = std::make_unique<PulseRig>();
    m_pulse->start();
    m_pulse->addVirtualMic("virtmic", 48000, 1);
    m_pulse->setDefaultSource("virtmic");
    m_speech = m_pulse->makeSpeech("hello", "Hello world.");

    // One private bus stands in for both the system and the session bus.
    m_ok = m_bus.start(m_dir / "run");
    EXPECT_TRUE(m_ok) << "dbus-daemon did not start within 5 s";
}

DesktopRig::~DesktopRig() {
    m_app.stop(5.0);
    m_clipboardOwner.stop();
    m_bus.stop();
    m_keyboard.reset();
    m_pulse.reset();
    m_x.reset();
}

std::filesystem::path DesktopRig::settingsFile() const {
    return m_dir / "config" / "velmarune" / "settings.json";
}

std::filesystem::path DesktopRig::diagnosticsFile() const {
    return m_dir / "state" / "Velmarune" / "press-diag.csv";
}

void DesktopRig::installModels() {
    nlohmann::json settings = {
        {"hebrewModelPath", testModelPath(TestModel::hebrew).string()},
        {"multilingualModelPath", testModelPath(TestModel::english).string()},
        {"DiagnosticPasteLog", true},
    };
    std::filesystem::create_directories(settingsFile().parent_path());
    writeFile(settingsFile(), settings.dump(2));
}

std::map<std::string, std::string> DesktopRig::applicationEnvironment() const {
    std::map<std::string, std::string> environment{
        {"HOME", (m_dir / "home").string()},
        {"XDG_CONFIG_HOME", (m_dir / "config").string()},
        {"XDG_DATA_HOME", (m_dir / "data").string()},
        {"XDG_STATE_HOME", (m_dir / "state").string()},
        {"XDG_CACHE_HOME", (m_dir / "cache").string()},
        {"XDG_RUNTIME_DIR", (m_dir / "run").string()},
        {"DISPLAY", m_x->display()},
        {"PULSE_SERVER", m_pulse->serverAddress()},
        {"DBUS_SESSION_BUS_ADDRESS", m_bus.address()},
        {"DBUS_SYSTEM_BUS_ADDRESS", m_bus.address()},
        {"QT_QPA_PLATFORM", "xcb"},
        {"XDG_SESSION_TYPE", "x11"},
    };
    environment.insert(extraEnvironment.begin(), extraEnvironment.end());
    return environment;
}

std::filesystem::path DesktopRig::applicationBinary() {
    const char* chosen = std::getenv("VELMARUNE_E2E_BINARY");
    return chosen != nullptr && *chosen != '\0'
               ? std::filesystem::path(chosen)
               : std::filesystem::path(VELMARUNE_BINARY_DIR) / "src/shell/velmarune";
}

std::filesystem::path DesktopRig::autostartEntry() const {
    return m_dir / "config" / "autostart" / "velmarune.desktop";
}

void DesktopRig::startApplication() {
    m_logCursor = 0;
    m_app = ChildProcess({applicationBinary().string()}, applicationEnvironment(), "/dev/null",
                         (m_dir / "velmarune.log").string());
}

void DesktopRig::killXServer() {
    m_keyboard.reset();
    ::kill(m_x->serverPid(), SIGKILL);
}

int DesktopRig::runVelmarune(const std::vector<std::string>& args, std::string* errorText,
                             double seconds) const {
    std::vector<std::string> argv{applicationBinary().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto errors = m_dir / "command-stderr.txt";
    std::filesystem::remove(errors);
    ChildProcess command(argv, applicationEnvironment(), "/dev/null", errors.string());
    const int status = command.wait(seconds);
    if (errorText != nullptr) {
        *errorText = readFile(errors);
    }
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int DesktopRig::terminateApplication(double seconds) {
    const int status = m_app.stop(seconds);
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string DesktopRig::log() const {
    return readFile(m_dir / "velmarune.log");
}

bool DesktopRig::waitForLog(const std::string& text, double seconds) {
    return waitUntil(
        [&] {
            const auto contents = log();
            const auto at = contents.find(text, m_logCursor);
            if (at == std::string::npos) {
                return false;
            }
            m_logCursor = at + text.size();
            return true;
        },
        seconds);
}

void DesktopRig::speak() {
    const pid_t player = m_pulse->play(m_speech, "virtmic_out");
    ASSERT_TRUE(PulseRig::waitForExit(player, 15.0)) << "paplay did not finish";
}

void DesktopRig::dictate(const std::function<void()>& beforeRelease) {
    m_keyboard->press("Control_L");
    m_keyboard->press("Shift_L");
    speak();
    // The capture runs slightly behind the player.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (beforeRelease) {
        beforeRelease();
    }
    m_keyboard->release("Shift_L");
    m_keyboard->release("Control_L");
}

void DesktopRig::setClipboard(const std::string& text) {
    const auto file = m_dir / "clipboard.txt";
    writeFile(file, text);
    // -quiet keeps xclip in the foreground, so it is stopped by PID.
    m_clipboardOwner =
        ChildProcess({"xclip", "-quiet", "-selection", "clipboard", "-i", file.string()});
    ASSERT_TRUE(waitUntil([&] { return clipboard() == text; }, 5.0))
        << "xclip did not take the clipboard";
}

bool DesktopRig::waitForWindow(const std::string& titlePattern, double seconds) {
    return waitUntil(
        [&] {
            return runCommand({"xdotool", "search", "--onlyvisible", "--name", titlePattern}, 2.0)
                       .exitCode == 0;
        },
        seconds, 0.01);
}

std::string DesktopRig::clipboard() {
    return runCommand({"xclip", "-selection", "clipboard", "-o"}, 5.0).output;
}

std::vector<std::map<std::string, std::string>> DesktopRig::diagnosticRows() const {
    std::ifstream in(diagnosticsFile());
    std::string header, line;
    std::getline(in, header);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            rows.push_back(CsvRow(header, line).byName);
        }
    }
    return rows;
}

}  // namespace velmarune::testing
