#pragma once

#include <optional>
#include <string>

#include "support/Process.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace velmarune::testing {

// A private X server (Xvfb on a free display) with an optional window
// manager that maintains _NET_ACTIVE_WINDOW. Sets DISPLAY and
// XDG_RUNTIME_DIR for this process while it lives.
class XRig {
  public:
    struct Options {
        bool windowManager = true;  // openbox
    };
    XRig();
    explicit XRig(Options options);
    ~XRig();

    bool ok() const { return m_ok; }
    const std::string& display() const { return m_display; }  // ":N"
    const std::filesystem::path& runtimeDir() const { return m_runtime; }
    pid_t serverPid() const { return m_xvfb.pid(); }

  private:
    TempDir m_dir{"velmarune-x"};
    std::filesystem::path m_runtime;
    ChildProcess m_xvfb;
    ChildProcess m_wm;
    std::string m_display;
    std::optional<ScopedEnv> m_displayEnv;
    bool m_ok = false;
};

}  // namespace velmarune::testing
