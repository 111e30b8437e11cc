#include "support/XRig.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

namespace velmarune::testing {

XRig::XRig() : XRig(Options{}) {}

XRig::XRig(Options options) {
    if (!requireProgram("Xvfb", "xvfb"))
        return;
    if (options.windowManager && !requireProgram("openbox", "openbox"))
        return;
    if (!requireProgram("xprop", "x11-utils"))
        return;

    m_runtime = m_dir.path() / "run";
    std::filesystem::create_directories(m_runtime);
    chmod(m_runtime.c_str(), 0700);
    const auto displayFile = m_dir.path() / "display.txt";

    // -displayfd picks a free display and writes its number once listening.
    // -noreset: a short-lived client (xprop, xclip) leaving as the last one
    // must not reset the server under a window manager that is connecting.
    m_xvfb =
        ChildProcess({"/bin/sh", "-c",
                      "exec Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset 5>" +
                          displayFile.string()});
    if (!waitUntil(
            [&] { return !readFile(displayFile).empty() && readFile(displayFile).back() == '\n'; },
            10.0)) {
        ADD_FAILURE() << "Xvfb did not start within 10 s";
        return;
    }
    m_display = ":" + std::to_string(std::stoi(readFile(displayFile)));
    m_displayEnv.emplace("DISPLAY", m_display);
    setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);

    if (options.windowManager) {
        m_wm = ChildProcess({"openbox"}, {{"DISPLAY", m_display}});
        // openbox announces itself through _NET_SUPPORTING_WM_CHECK on the root.
        if (!waitUntil(
                [&] {
                    return runCommand({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, 2.0)
                               .output.find("window id") != std::string::npos;
                },
                10.0)) {
            ADD_FAILURE() << "openbox did not start within 10 s";
            return;
        }
    }
    m_ok = true;
}

XRig::~XRig() {
    m_wm.stop();
    m_xvfb.stop();
}

}  // namespace velmarune::testing
