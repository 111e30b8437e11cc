#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "support/Process.h"
#include "support/ScopedEnv.h"

namespace velmarune::testing {

// A dbus-daemon of the test's own, made this process's session bus
// (DBUS_SESSION_BUS_ADDRESS) until it goes.
class PrivateSessionBus {
  public:
    // False (with the test skipped or failed) without dbus-daemon or when it
    // does not come up within 5 s.
    bool start(const std::filesystem::path& dir) {
        if (!requireProgram("dbus-daemon", "dbus-daemon")) {
            return false;
        }
        const auto socket = dir / "bus";
        m_address = "unix:path=" + socket.string();
        m_daemon = ChildProcess(
            {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + m_address});
        m_env.emplace("DBUS_SESSION_BUS_ADDRESS", m_address);
        return waitUntil([&] { return std::filesystem::exists(socket); }, 5.0);
    }
    const std::string& address() const { return m_address; }
    pid_t pid() const { return m_daemon.pid(); }

    // The bus goes away under its clients (a session ending).
    void stop() { m_daemon.stop(); }

  private:
    std::string m_address;
    ChildProcess m_daemon;
    std::optional<ScopedEnv> m_env;
};

}  // namespace velmarune::testing
