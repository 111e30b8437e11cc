#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/PrivateSessionBus.h"
#include "support/Process.h"
#include "support/PulseRig.h"
#include "support/TempDir.h"
#include "support/XRig.h"

namespace velmarune::testing {
class XTestKeyboard;
}

namespace velmarune::testing {

// Everything the application meets on a desktop, private to one test: an X
// server with a window manager, an audio server whose default input is a
// real-time virtual microphone, a session bus, and a temporary home. Starts
// the real `velmarune` binary in it and stops it by PID.
class DesktopRig {
  public:
    DesktopRig();
    ~DesktopRig();
    DesktopRig(const DesktopRig&) = delete;
    DesktopRig& operator=(const DesktopRig&) = delete;

    bool ok() const { return m_ok; }

    // Writes settings.json with both model slots filled with generated
    // known-transcript models and the diagnostic CSV switched on.
    void installModels();
    // Starts the application, its standard error going to the log file.
    void startApplication();
    // The program started: $VELMARUNE_E2E_BINARY (the package test points it
    // at the installed one), else the build tree's.
    static std::filesystem::path applicationBinary();
    std::filesystem::path autostartEntry() const;
    // SIGTERM; returns the exit status, or -1 when it did not end within
    // `seconds`.
    int terminateApplication(double seconds = 10.0);
    pid_t applicationPid() const { return m_app.pid(); }
    // The servers the application talks to, to stop and continue them.
    pid_t audioServerPid() const { return m_pulse->pid(); }
    pid_t busPid() const { return m_bus.pid(); }
    pid_t clipboardOwnerPid() const { return m_clipboardOwner.pid(); }
    // Added to the application's environment at its next start.
    std::map<std::string, std::string> extraEnvironment;
    // Waits for the application to end by itself; its wait status, or -1.
    int waitForApplicationExit(double seconds) { return m_app.wait(seconds); }

    // Waits for a log line containing `text` that appeared after the last
    // match (so repeated events are counted one by one).
    bool waitForLog(const std::string& text, double seconds);
    std::string log() const;

    // Holds Control+Shift, plays the phrase into the microphone, releases;
    // `beforeRelease` runs just before the keys go up.
    void dictate(const std::function<void()>& beforeRelease = {});
    // Plays the phrase into the microphone and waits until it has been played.
    void speak();
    XTestKeyboard& keyboard() { return *m_keyboard; }

    // Owns CLIPBOARD with `text` from a separate client until replaced.
    void setClipboard(const std::string& text);
    std::string clipboard();

    // Kills the X server as a crash would (after closing the rig's own
    // Xlib connection, which would otherwise end this process).
    void killXServer();
    // Ends the session bus (it also stands in for the system bus).
    void stopSessionBus() { m_bus.stop(); }
    // The folder that stands for $HOME, $XDG_CONFIG_HOME, ... ("home", "config",
    // "data", "state", "cache", "run").
    std::filesystem::path folder(const std::string& name) const { return m_dir / name; }
    // Runs `velmarune` with these arguments in the application's environment
    // and waits for it (at most `seconds`); its standard error is `*errorText`.
    int runVelmarune(const std::vector<std::string>& args, std::string* errorText,
                     double seconds = 30.0) const;
    // Whether a window whose title matches `titlePattern` is shown within
    // `seconds`.
    bool waitForWindow(const std::string& titlePattern, double seconds);

    std::filesystem::path settingsFile() const;
    std::filesystem::path diagnosticsFile() const;
    // The CSV's rows as column name -> value.
    std::vector<std::map<std::string, std::string>> diagnosticRows() const;

  private:
    std::map<std::string, std::string> applicationEnvironment() const;

    TempDir m_dir{"velmarune-e2e"};
    std::unique_ptr<XRig> m_x;
    std::unique_ptr<PulseRig> m_pulse;
    std::unique_ptr<XTestKeyboard> m_keyboard;
    PrivateSessionBus m_bus;
    ChildProcess m_clipboardOwner;
    ChildProcess m_app;
    std::filesystem::path m_speech;
    size_t m_logCursor = 0;
    bool m_ok = false;
};

}  // namespace velmarune::testing
