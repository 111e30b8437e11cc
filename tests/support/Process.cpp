#include "support/Process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace velmarune::testing {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env,
                           const std::string& stdoutFile, const std::string& stderrFile) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        auto name = entry.substr(0, entry.find('='));
        if (env.count(name) == 0) {
            envStrings.push_back(entry);
        }
    }
    for (const auto& [k, v] : env) {
        envStrings.push_back(k + "=" + v);
    }
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int in = open("/dev/null", O_RDONLY);
        int out = open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int err = open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in >= 0)
            dup2(in, 0);
        if (out >= 0)
            dup2(out, 1);
        if (err >= 0)
            dup2(err, 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    m_pid = pid;
}

ChildProcess::~ChildProcess() {
    stop();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : m_pid(std::exchange(other.m_pid, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        m_pid = std::exchange(other.m_pid, -1);
    }
    return *this;
}

bool ChildProcess::running() {
    if (m_pid <= 0)
        return false;
    int status = 0;
    pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

int ChildProcess::stop(double graceSeconds) {
    if (m_pid <= 0)
        return -1;
    kill(-m_pid, SIGTERM);
    kill(m_pid, SIGTERM);
    int status = -1;
    const auto ended = [&] {
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        return r == m_pid || r < 0;
    };
    if (!waitUntil(ended, graceSeconds, 0.01)) {
        kill(-m_pid, SIGKILL);
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
    return status;
}

int ChildProcess::wait(double seconds) {
    int status = -1;
    const bool ended = waitUntil(
        [&] { return m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid; }, seconds, 0.01);
    if (!ended) {
        return -1;
    }
    m_pid = -1;
    return status;
}

bool waitUntil(const std::function<bool()>& condition, double seconds, double pollSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(pollSeconds));
    }
    return condition();
}

CommandResult runCommand(const std::vector<std::string>& argv, double timeoutSeconds) {
    char path[] = "/tmp/velmarune-command-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return {};
    }
    close(fd);
    ChildProcess child(argv, {}, path, path);
    const int status = child.wait(timeoutSeconds);
    CommandResult result;
    result.exitCode = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(path);
    result.output.assign(std::istreambuf_iterator<char>(in), {});
    unlink(path);
    return result;
}

namespace {
// Why a test cannot run without `name`, or empty when it is on PATH.
std::string missing(const std::string& name, const std::string& debianPackage) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (access((std::filesystem::path(dir) / name).c_str(), X_OK) == 0)
            return {};
    }
    return "'" + name + "' is missing: install the Debian package " + debianPackage +
           " (scripts/install-deps does)";
}
}  // namespace

bool requireProgram(const std::string& name, const std::string& debianPackage) {
    const auto problem = missing(name, debianPackage);
    EXPECT_TRUE(problem.empty()) << problem;
    return problem.empty();
}

void requireTool(const std::string& name, const std::string& debianPackage) {
    if (const auto problem = missing(name, debianPackage); !problem.empty()) {
        throw std::runtime_error(problem);
    }
}

}  // namespace velmarune::testing
