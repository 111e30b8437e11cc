#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace velmarune::testing {

// A headless sway (no GPU, no input devices) for tests. sway refuses to run
// as root, so as root it runs as a system user made for the purpose. Clients
// the test starts connect by the sockets' full paths, which root may use.
class SwayRig {
  public:
    SwayRig();
    ~SwayRig();

    // False with `failure()` saying why when sway did not come up.
    bool ok() const { return m_ok; }
    const std::string& failure() const { return m_failure; }
    const std::string& waylandSocket() const { return m_waylandSocket; }  // full path
    const std::string& swaySocket() const { return m_swaySocket; }
    const std::filesystem::path& dir() const { return m_dir.path(); }
    // The environment a client of this compositor needs.
    std::map<std::string, std::string> clientEnvironment() const;

    // `swaymsg` with these arguments; its standard output.
    std::string swaymsg(const std::vector<std::string>& args) const;
    // A shell command run to its end (bounded) as a client; its standard output.
    std::string run(const std::string& command, double seconds = 10) const;
    // A foot terminal with `appID` whose keyboard input goes byte for byte to
    // `outputFile`; true once sway shows it focused.
    bool startTarget(const std::string& appID, const std::filesystem::path& outputFile);
    // Ends the compositor (its clients see the connection close).
    void stopCompositor();

  private:
    TempDir m_dir{"velmarune-sway"};
    ChildProcess m_sway;
    std::vector<ChildProcess> m_clients;
    std::string m_waylandSocket, m_swaySocket, m_failure;
    bool m_ok = false;
};

}  // namespace velmarune::testing
