#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velmarune::testing {

// A child process the test owns: started with arguments and extra
// environment, stopped (TERM, then KILL after a bounded wait) when destroyed.
class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env = {},
                 const std::string& stdoutFile = "/dev/null",
                 const std::string& stderrFile = "/dev/null");
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    bool running();
    // Stops the process; returns its exit status (or -1).
    int stop(double graceSeconds = 2.0);
    // Waits at most `seconds` for the process to end by itself; returns its
    // wait status, or -1 when it is still running.
    int wait(double seconds);

  private:
    pid_t m_pid = -1;
};

// Polls `condition` every `pollSeconds` until it holds or `seconds` pass;
// returns its last answer. For waits on other processes, which have no event
// to wait on.
bool waitUntil(const std::function<bool()>& condition, double seconds, double pollSeconds = 0.02);

// The result of a helper program the tests run.
struct CommandResult {
    int exitCode = -1;   // -1: could not start or timed out
    std::string output;  // standard output and error together
};

// Runs a program (looked up on PATH) and waits at most `timeoutSeconds`.
CommandResult runCommand(const std::vector<std::string>& argv, double timeoutSeconds = 10.0);

// Fails the current test with a message naming the Debian package when a
// tool is missing.
bool requireProgram(const std::string& name, const std::string& debianPackage);
// The same for helpers outside a test body: throws std::runtime_error.
void requireTool(const std::string& name, const std::string& debianPackage);

}  // namespace velmarune::testing
