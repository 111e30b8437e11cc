#include "platform/wayland/HyprlandFrontApplication.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "foundation/Log.h"
#include "platform/wayland/WaylandEventLoop.h"

namespace velmarune {

namespace {
const Logger log{"HyprlandFrontApplication"};

// Hyprland answers a request at once; a stuck compositor must not hold the loop.
constexpr int kAnswerMs = 500;
constexpr size_t kMaxAnswerBytes = 1 << 20;

std::string findSocketDir() {
    const char* signature = std::getenv("HYPRLAND_INSTANCE_SIGNATURE");
    if (!signature || !*signature) {
        return {};
    }
    // Newer releases keep the sockets in the runtime folder, older ones in /tmp.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        const auto dir = std::filesystem::path(runtime) / "hypr" / signature;
        if (std::filesystem::exists(dir / ".socket2.sock")) {
            return dir.string();
        }
    }
    return (std::filesystem::path("/tmp/hypr") / signature).string();
}
}  // namespace

struct HyprlandFrontApplication::State {
    std::string dir;
    int events = -1;
    std::string input;
    std::shared_ptr<FocusRecord> record;

    ~State() {
        if (events >= 0) {
            close(events);
        }
    }

    // One request, one answer, then Hyprland closes the connection.
    std::optional<std::string> ask(const std::string& request) {
        const int fd = connectUnixSocket(dir + "/.socket.sock");
        if (fd < 0) {
            return std::nullopt;
        }
        std::optional<std::string> answer;
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            std::string bytes;
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
            while (bytes.size() < kMaxAnswerBytes) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count();
                pollfd p{fd, POLLIN, 0};
                if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
                    break;
                }
                char buffer[8192];
                const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                if (n == 0) {
                    answer = std::move(bytes);
                    break;
                }
                if (n < 0 && errno != EINTR) {
                    break;
                }
                if (n > 0) {
                    bytes.append(buffer, static_cast<size_t>(n));
                }
            }
        }
        close(fd);
        return answer;
    }

    void refresh() {
        const auto answer = ask("j/activewindow");
        if (!answer) {
            log.error("Hyprland did not say which window is active");
            return;
        }
        const auto window = nlohmann::json::parse(*answer, nullptr, false);
        record->publish(window.is_discarded() ? std::nullopt : focusedInHyprlandWindow(window));
    }

    // Loop thread. False when Hyprland went away.
    bool readable() {
        char buffer[8192];
        const ssize_t n = recv(events, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        if (n > 0) {
            input.append(buffer, static_cast<size_t>(n));
        }
        bool focusMoved = false;
        for (size_t end; (end = input.find('\n')) != std::string::npos;) {
            const std::string line = input.substr(0, end);
            input.erase(0, end + 1);
            focusMoved = focusMoved || line.starts_with("activewindowv2>>") ||
                         line.starts_with("closewindow>>");
        }
        if (input.size() > kMaxAnswerBytes) {
            input.clear();  // a line without end is no event of ours
        }
        if (focusMoved) {
            refresh();  // once for a burst of events
        }
        return true;
    }
};

HyprlandFrontApplication::HyprlandFrontApplication() : m_state(std::make_shared<State>()) {
    m_state->record = m_record;
}

HyprlandFrontApplication::~HyprlandFrontApplication() = default;

bool HyprlandFrontApplication::attach(std::shared_ptr<WaylandEventLoop> loop,
                                      const std::string& socketDir, std::string* error) {
    State& state = *m_state;
    state.dir = socketDir == "none" ? "" : socketDir.empty() ? findSocketDir() : socketDir;
    if (state.dir.empty() || (state.events = connectUnixSocket(state.dir + "/.socket2.sock")) < 0) {
        if (error) {
            *error = state.dir.empty() ? "not running under Hyprland"
                                       : "cannot connect to Hyprland's sockets in " + state.dir;
        }
        return false;
    }
    state.refresh();
    std::weak_ptr<State> weak = m_state;
    watchFocusSocket(
        *loop, state.events, m_record,
        [weak] {
            auto self = weak.lock();
            return !self || self->readable();
        },
        log, "Hyprland");
    m_loop = std::move(loop);
    return true;
}

}  // namespace velmarune
