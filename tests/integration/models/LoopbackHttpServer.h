#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace velmarune::testing {

// The loopback_server.py beside this file, serving `folder`; stopped by PID.
class LoopbackHttpServer {
  public:
    explicit LoopbackHttpServer(const std::filesystem::path& folder) {
        const std::string script =
            std::string(VELMARUNE_SOURCE_DIR) + "/tests/integration/models/loopback_server.py";
        int out[2];
        if (::pipe(out) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execlp("python3", "python3", script.c_str(), folder.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        pollfd wait{out[0], POLLIN, 0};
        char c = 0;
        // Bounded: the interpreter starts in well under a second.
        while (::poll(&wait, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        ::close(out[0]);
        m_port = line.empty() ? 0 : std::stoi(line);
        if (m_port == 0) {
            ADD_FAILURE() << "The loopback HTTP server did not start; it needs python3 "
                             "(Debian package python3).";
        }
    }
    ~LoopbackHttpServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    bool running() const { return m_port != 0; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
    }

  private:
    pid_t m_pid = -1;
    int m_port = 0;
};

}  // namespace velmarune::testing
