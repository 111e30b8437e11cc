#include "support/PulseRig.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace velmarune::testing {

PulseRig::PulseRig() {
    requireTool("pulseaudio", "pulseaudio");
    requireTool("pactl", "pulseaudio-utils");
    const auto& d = m_dir.path();
    for (const char* sub : {"home", "run", "config", "run/pulse", "run/state"}) {
        std::filesystem::create_directories(d / sub);
        chmod((d / sub).c_str(), 0700);
    }
    setenv("HOME", (d / "home").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (d / "run").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (d / "config").c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", (d / "run/pulse").c_str(), 1);
    setenv("PULSE_STATE_PATH", (d / "run/state").c_str(), 1);
    setenv("PULSE_SERVER", serverAddress().c_str(), 1);
}

PulseRig::~PulseRig() {
    stop();
}

std::string PulseRig::serverAddress() const {
    return "unix:" + (m_dir.path() / "run/pulse/native").string();
}

void PulseRig::start() {
    if (isRunning()) {
        return;
    }
    m_moduleOwners.clear();
    const auto log = (m_dir.path() / "pulseaudio.log").string();
    const std::string socket = (m_dir.path() / "run/pulse/native").string();
    m_server =
        ChildProcess({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                      "--disallow-exit=yes", "--realtime=no", "--high-priority=no",
                      "--no-cpu-limit=yes", "--use-pid-file=no", "--log-target=stderr", "-L",
                      "module-native-protocol-unix auth-anonymous=1 socket=" + socket, "-L",
                      "module-null-sink sink_name=nullsink rate=48000", "-L", "module-always-sink"},
                     {}, log, log);
    bool exited = false;
    if (waitUntil(
            [&] {
                exited = !m_server.running();
                return exited || runCommand({"pactl", "info"}, 2.0).exitCode == 0;
            },
            5.0, 0.05) &&
        !exited) {
        return;
    }
    stop();
    throw std::runtime_error(exited ? "pulseaudio exited at start; see " + log
                                    : "pulseaudio did not answer within 5 s");
}

void PulseRig::kill() {
    if (isRunning()) {
        ::kill(pid(), SIGKILL);
        m_server.wait(5.0);
    }
}

void PulseRig::stop() {
    m_server.stop();
}

std::string PulseRig::pactl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = runCommand(argv, 5.0);
    if (r.exitCode != 0) {
        throw std::runtime_error("pactl " + args.front() + " failed: " + r.output);
    }
    while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == ' ')) {
        r.output.pop_back();
    }
    return r.output;
}

void PulseRig::addVirtualMic(const std::string& name, int rateHz, int channels,
                             const std::string& format, const std::string& description) {
    const std::string sink = name + "_out";
    const auto sinkModule = pactl({"load-module", "module-null-sink", "sink_name=" + sink,
                                   "rate=" + std::to_string(rateHz),
                                   "channels=" + std::to_string(channels), "format=" + format});
    std::vector<std::string> args{"load-module", "module-remap-source",
                                  "master=" + sink + ".monitor", "source_name=" + name};
    if (!description.empty()) {
        // The module argument parser wants the whole property list quoted.
        args.push_back("source_properties='device.description=\"" + description + "\"'");
    }
    const auto sourceModule = pactl(args);
    m_moduleOwners.emplace_back(name, sourceModule);
    m_moduleOwners.emplace_back(name + "#sink", sinkModule);
}

void PulseRig::addSilentPipeSource(const std::string& name) {
    const auto fifo = m_dir.path() / (name + ".fifo");
    const auto module =
        pactl({"load-module", "module-pipe-source", "source_name=" + name, "file=" + fifo.string(),
               "format=s16le", "rate=48000", "channels=2"});
    m_moduleOwners.emplace_back(name, module);
}

void PulseRig::setDefaultSource(const std::string& name) {
    pactl({"set-default-source", name});
}

void PulseRig::removeSource(const std::string& name) {
    for (auto it = m_moduleOwners.begin(); it != m_moduleOwners.end();) {
        if (it->first == name || it->first == name + "#sink") {
            pactl({"unload-module", it->second});
            it = m_moduleOwners.erase(it);
        } else {
            ++it;
        }
    }
}

pid_t PulseRig::play(const std::filesystem::path& file, const std::string& sink) {
    requireTool("paplay", "pulseaudio-utils");
    const std::string path = file.string();
    const char* argv[] = {"paplay", "-d", sink.c_str(), path.c_str(), nullptr};
    pid_t pid = -1;
    return posix_spawnp(&pid, "paplay", nullptr, nullptr, const_cast<char**>(argv), environ) == 0
               ? pid
               : -1;
}

bool PulseRig::waitForExit(pid_t pid, double timeoutSeconds) {
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutSeconds, 0.01)) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {
// A sound file made by a tool; throws when it fails.
std::filesystem::path generated(const std::filesystem::path& file,
                                const std::vector<std::string>& argv, const char* package) {
    requireTool(argv[0], package);
    if (const auto r = runCommand(argv); r.exitCode != 0) {
        throw std::runtime_error(argv[0] + " failed: " + r.output);
    }
    return file;
}
}  // namespace

std::filesystem::path PulseRig::makeTone(const std::string& name, int rateHz, int channels,
                                         double frequencyHz, double seconds, double amplitude) {
    const auto file = m_dir.path() / (name + ".wav");
    return generated(file,
                     {"sox", "-n", "-r", std::to_string(rateHz), "-c", std::to_string(channels),
                      "-b", "16", file.string(), "synth", std::to_string(seconds), "sine",
                      std::to_string(frequencyHz), "vol", std::to_string(amplitude)},
                     "sox");
}

std::filesystem::path PulseRig::makeSpeech(const std::string& name, const std::string& text,
                                           const std::string& voice) {
    const auto file = m_dir.path() / (name + ".wav");
    return generated(file, {"espeak-ng", "-v", voice, "-w", file.string(), text}, "espeak-ng");
}

}  // namespace velmarune::testing
