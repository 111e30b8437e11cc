#include "support/PulseRig.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velmarune::testing {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> argvOf(const std::vector<std::string>& args) {
    std::vector<char*> out;
    for (const auto& a : args) {
        out.push_back(const_cast<char*>(a.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

pid_t spawn(const std::vector<std::string>& args, int outFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
        posix_spawn_file_actions_adddup2(&actions, outFd, 2);
    }
    pid_t pid = -1;
    auto argv = argvOf(args);
    const int rc = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits for `pid` until `deadline`; returns the exit code or -1 on timeout.
int waitUntil(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (r < 0) {
            return -1;
        }
        if (Clock::now() >= deadline) {
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void makePrivateDir(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    chmod(dir.c_str(), 0700);
}

}  // namespace

CommandResult runCommand(const std::vector<std::string>& argv, double timeoutSeconds) {
    CommandResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t pid = spawn(argv, fds[1]);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return result;
    }
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    int code = -2;
    char buffer[4096];
    for (;;) {
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
            result.output.append(buffer, static_cast<size_t>(n));
        }
        code = waitUntil(pid, Clock::now());
        if (code != -2) {
            break;
        }
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            waitUntil(pid, Clock::now() + std::chrono::seconds(2));
            code = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    result.exitCode = code;
    return result;
}

void requireTool(const std::string& tool, const std::string& debianPackage) {
    const auto r = runCommand({"sh", "-c", "command -v " + tool}, 5.0);
    if (r.exitCode != 0) {
        throw std::runtime_error("'" + tool + "' is missing: install the Debian package " +
                                 debianPackage + " (scripts/install-deps does)");
    }
}

PulseRig::PulseRig() {
    requireTool("pulseaudio", "pulseaudio");
    requireTool("pactl", "pulseaudio-utils");
    const auto& d = m_dir.path();
    for (const char* sub : {"home", "run", "config", "run/pulse", "run/state"}) {
        makePrivateDir(d / sub);
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

pid_t PulseRig::spawnServer() {
    const auto log = m_dir.path() / "pulseaudio.log";
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const std::string socket = (m_dir.path() / "run/pulse/native").string();
    const pid_t pid =
        spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit=yes",
               "--realtime=no", "--high-priority=no", "--no-cpu-limit=yes", "--use-pid-file=no",
               "--log-target=stderr", "-L",
               "module-native-protocol-unix auth-anonymous=1 socket=" + socket, "-L",
               "module-null-sink sink_name=nullsink rate=48000", "-L", "module-always-sink"},
              fd);
    if (fd >= 0) {
        close(fd);
    }
    return pid;
}

void PulseRig::start() {
    if (m_pid > 0) {
        return;
    }
    m_moduleOwners.clear();
    m_pid = spawnServer();
    if (m_pid < 0) {
        throw std::runtime_error("could not start pulseaudio");
    }
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (runCommand({"pactl", "info"}, 2.0).exitCode == 0) {
            return;
        }
        if (waitUntil(m_pid, Clock::now()) != -2) {
            m_pid = -1;
            throw std::runtime_error("pulseaudio exited at start; see " +
                                     (m_dir.path() / "pulseaudio.log").string());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    throw std::runtime_error("pulseaudio did not answer within 5 s");
}

void PulseRig::kill() {
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGKILL);
    waitUntil(m_pid, Clock::now() + std::chrono::seconds(5));
    m_pid = -1;
}

void PulseRig::stop() {
    if (m_pid <= 0) {
        return;
    }
    ::kill(m_pid, SIGTERM);
    if (waitUntil(m_pid, Clock::now() + std::chrono::seconds(2)) == -2) {
        ::kill(m_pid, SIGKILL);
        waitUntil(m_pid, Clock::now() + std::chrono::seconds(2));
    }
    m_pid = -1;
}

std::string PulseRig::pactl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = runCommand(argv, 5.0);
    if (r.exitCode != 0) {
        std::string joined;
        for (const auto& a : argv) {
            joined += a + " ";
        }
        throw std::runtime_error(joined + "failed: " + r.output);
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
    return spawn({"paplay", "-d", sink, file.string()}, -1);
}

bool PulseRig::waitForExit(pid_t pid, double timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    const int code = waitUntil(pid, deadline);
    if (code == -2) {
        ::kill(pid, SIGKILL);
        waitUntil(pid, Clock::now() + std::chrono::seconds(2));
        return false;
    }
    return code == 0;
}

std::filesystem::path PulseRig::makeTone(const std::string& name, int rateHz, int channels,
                                         double frequencyHz, double seconds, double amplitude) {
    requireTool("sox", "sox");
    const auto file = m_dir.path() / (name + ".wav");
    const auto r =
        runCommand({"sox", "-n", "-r", std::to_string(rateHz), "-c", std::to_string(channels), "-b",
                    "16", file.string(), "synth", std::to_string(seconds), "sine",
                    std::to_string(frequencyHz), "vol", std::to_string(amplitude)});
    if (r.exitCode != 0) {
        throw std::runtime_error("sox failed: " + r.output);
    }
    return file;
}

std::filesystem::path PulseRig::makeSpeech(const std::string& name, const std::string& text,
                                           const std::string& voice) {
    requireTool("espeak-ng", "espeak-ng");
    const auto file = m_dir.path() / (name + ".wav");
    const auto r = runCommand({"espeak-ng", "-v", voice, "-w", file.string(), text});
    if (r.exitCode != 0) {
        throw std::runtime_error("espeak-ng failed: " + r.output);
    }
    return file;
}

}  // namespace velmarune::testing
