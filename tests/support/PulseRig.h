#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace velmarune::testing {

// A private PulseAudio server for one test process: its own runtime folder,
// anonymous access on a unix socket, a null sink "nullsink" at 48 kHz, no
// realtime scheduling, never exits on idle. Works as root. The process
// environment is pointed at it (PULSE_SERVER and friends), so clients in the
// test process and the pactl/paplay helpers reach it. Stopped by PID in the
// destructor.
class PulseRig {
  public:
    PulseRig();
    ~PulseRig();
    PulseRig(const PulseRig&) = delete;
    PulseRig& operator=(const PulseRig&) = delete;

    // Starts the server and waits (at most 5 s) until it answers.
    void start();
    // SIGKILL, as a crash would; the socket file stays behind.
    void kill();
    // SIGTERM, then SIGKILL after 2 s.
    void stop();
    bool isRunning() const { return m_server.pid() > 0; }
    pid_t pid() const { return m_server.pid(); }

    // "unix:<runtime>/native"
    std::string serverAddress() const;

    // pactl with these arguments; throws on failure.
    std::string pactl(const std::vector<std::string>& args);
    // A real-time virtual microphone `name`: a null sink "<name>_out" in the
    // given format whose monitor is remapped to the source `name`. Play into
    // "<name>_out" and it is captured from `name`.
    void addVirtualMic(const std::string& name, int rateHz, int channels,
                       const std::string& format = "float32le",
                       const std::string& description = "");
    // A source fed from a fifo that nobody writes: it produces no data at all.
    void addSilentPipeSource(const std::string& name);
    void setDefaultSource(const std::string& name);
    // Unloads the module that created source `name`.
    void removeSource(const std::string& name);

    // Starts paplay of `file` into `sink`; returns its PID.
    pid_t play(const std::filesystem::path& file, const std::string& sink);
    // Waits at most `timeoutSeconds` for that paplay; true when it finished.
    static bool waitForExit(pid_t pid, double timeoutSeconds);

    // Test sounds, written into the rig's folder.
    std::filesystem::path makeTone(const std::string& name, int rateHz, int channels,
                                   double frequencyHz, double seconds, double amplitude);
    std::filesystem::path makeSpeech(const std::string& name, const std::string& text,
                                     const std::string& voice = "en-us");

  private:
    TempDir m_dir{"velmarune-pulse"};
    ChildProcess m_server;
    std::vector<std::pair<std::string, std::string>> m_moduleOwners;  // source -> module index
};

}  // namespace velmarune::testing
