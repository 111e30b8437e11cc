#include "support/SwayRig.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace velmarune::testing {

namespace {

constexpr const char* kUser = "velmarune-wl";

// The unprivileged user sway runs as when the tests run as root.
const passwd* compositorUser() {
    if (const passwd* user = getpwnam(kUser)) {
        return user;
    }
    // Several suites may race to make it; whoever loses finds it made.
    [[maybe_unused]] int status =
        std::system((std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") +
                     kUser + " >/dev/null 2>&1")
                        .c_str());
    return getpwnam(kUser);
}

}  // namespace

SwayRig::SwayRig() {
    if (!requireProgram("sway", "sway") || !requireProgram("swaymsg", "sway") ||
        !requireProgram("foot", "foot") || !requireProgram("wl-paste", "wl-clipboard")) {
        m_failure = "a tool is missing";
        return;
    }
    const auto runtime = m_dir.path() / "run";
    const auto clientRuntime = m_dir.path() / "client-run";
    std::filesystem::create_directories(runtime);
    std::filesystem::create_directories(clientRuntime);
    chmod(m_dir.path().c_str(), 0755);  // the compositor's user reads its configuration here
    chmod(runtime.c_str(), 0700);
    chmod(clientRuntime.c_str(), 0700);

    const auto configFile = m_dir.path() / "sway.cfg";
    writeFile(configFile, "output HEADLESS-1 resolution 1024x768\nxwayland disable\n");
    chmod(configFile.c_str(), 0644);

    std::vector<std::string> argv{"sway", "-c", configFile.string()};
    if (geteuid() == 0) {
        const passwd* user = compositorUser();
        if (!user) {
            m_failure = std::string("cannot create the user ") + kUser + " to run sway as";
            return;
        }
        [[maybe_unused]] int owned = chown(runtime.c_str(), user->pw_uid, user->pw_gid);
        argv.insert(argv.begin(),
                    {"setpriv", "--reuid=" + std::to_string(user->pw_uid),
                     "--regid=" + std::to_string(user->pw_gid), "--clear-groups", "--"});
    }
    const auto log = m_dir.path() / "sway.log";
    m_sway = ChildProcess(argv,
                          {{"XDG_RUNTIME_DIR", runtime.string()},
                           {"HOME", m_dir.path().string()},
                           {"WLR_BACKENDS", "headless"},
                           {"WLR_RENDERER", "pixman"},
                           {"WLR_LIBINPUT_NO_DEVICES", "1"},
                           {"WAYLAND_DISPLAY", ""},
                           {"DISPLAY", ""}},
                          log.string(), log.string());
    // The socket names are sway's choice: wayland-N and sway-ipc.UID.PID.sock.
    const bool up = waitUntil(
        [&] {
            m_waylandSocket.clear();
            m_swaySocket.clear();
            std::error_code ignored;
            for (const auto& entry : std::filesystem::directory_iterator(runtime, ignored)) {
                const std::string name = entry.path().filename().string();
                if (name.starts_with("wayland-") && !name.ends_with(".lock")) {
                    m_waylandSocket = entry.path().string();
                } else if (name.starts_with("sway-ipc.") && name.ends_with(".sock")) {
                    m_swaySocket = entry.path().string();
                }
            }
            return !m_waylandSocket.empty() && !m_swaySocket.empty() &&
                   swaymsg({"-t", "get_version"}).find("\"major\"") != std::string::npos;
        },
        10.0, 0.05);
    if (!up) {
        m_failure = "sway did not start within 10 s: " + readFile(log);
        return;
    }
    m_ok = true;
}

SwayRig::~SwayRig() {
    m_clients.clear();
    m_sway.stop();
}

std::map<std::string, std::string> SwayRig::clientEnvironment() const {
    return {{"WAYLAND_DISPLAY", m_waylandSocket},
            {"SWAYSOCK", m_swaySocket},
            {"XDG_RUNTIME_DIR", (m_dir.path() / "client-run").string()},
            {"DISPLAY", ""}};
}

std::string SwayRig::run(const std::string& command, double seconds) const {
    std::vector<std::string> argv{"env"};
    for (const auto& [name, value] : clientEnvironment()) argv.push_back(name + "=" + value);
    argv.insert(argv.end(), {"sh", "-c", command + " </dev/null 2>/dev/null"});
    return runCommand(argv, seconds).output;
}

std::string SwayRig::swaymsg(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"swaymsg", "-s", m_swaySocket};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, 5.0).output;
}

bool SwayRig::startTarget(const std::string& appID, const std::filesystem::path& outputFile) {
    auto env = clientEnvironment();
    env["LANG"] = "C.UTF-8";
    m_clients.emplace_back(
        std::vector<std::string>{"foot", "--app-id=" + appID, "sh", "-c",
                                 "stty raw -echo; exec cat > \"$0\"", outputFile.string()},
        env, (m_dir.path() / (appID + ".log")).string(),
        (m_dir.path() / (appID + ".log")).string());
    // Focusing it succeeds once sway maps it.
    return waitUntil(
        [&] {
            return swaymsg({"[app_id=" + appID + "] focus"}).find("\"success\": true") !=
                       std::string::npos &&
                   std::filesystem::exists(outputFile);
        },
        10.0, 0.05);
}

void SwayRig::stopCompositor() {
    m_sway.stop();
}

}  // namespace velmarune::testing
