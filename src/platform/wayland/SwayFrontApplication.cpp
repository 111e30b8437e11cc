#include "platform/wayland/SwayFrontApplication.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>

#include "foundation/Log.h"
#include "platform/wayland/FocusedWindow.h"
#include "platform/wayland/WaylandEventLoop.h"

namespace velmarune {

namespace {
const Logger log{"SwayFrontApplication"};

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr size_t kHeaderBytes = sizeof kMagic + 8;
constexpr uint32_t kSubscribe = 2;
constexpr uint32_t kGetTree = 4;
constexpr uint32_t kEventBit = 0x80000000u;
// A tree larger than this is a broken peer, not a desktop.
constexpr uint32_t kMaxPayloadBytes = 64u << 20;

std::string message(uint32_t type, const std::string& payload) {
    std::string bytes(kMagic, sizeof kMagic);
    const auto length = static_cast<uint32_t>(payload.size());
    bytes.append(reinterpret_cast<const char*>(&length), 4);
    bytes.append(reinterpret_cast<const char*>(&type), 4);
    return bytes + payload;
}
}  // namespace

struct SwayFrontApplication::State {
    int fd = -1;
    std::string input;
    bool treeAsked = false;
    bool treeStale = false;

    std::shared_ptr<FocusRecord> record;

    ~State() {
        if (fd >= 0) {
            close(fd);
        }
    }

    bool sendMessage(uint32_t type, const std::string& payload) {
        const std::string bytes = message(type, payload);
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                if (poll(&p, 1, 1000) <= 0) {
                    return false;
                }
                continue;
            }
            if (n <= 0) {
                return false;
            }
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    void askTree() {
        if (treeAsked) {
            treeStale = true;  // ask again when this answer is in
            return;
        }
        treeAsked = sendMessage(kGetTree, "");
    }

    // Loop thread: what the socket brought. False when sway went away.
    bool readable() {
        char buffer[65536];
        while (true) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                input.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && (errno == EINTR)) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                break;
            }
            return false;
        }
        while (input.size() >= kHeaderBytes) {
            if (std::memcmp(input.data(), kMagic, sizeof kMagic) != 0) {
                return false;
            }
            uint32_t length = 0, type = 0;
            std::memcpy(&length, input.data() + sizeof kMagic, 4);
            std::memcpy(&type, input.data() + sizeof kMagic + 4, 4);
            if (length > kMaxPayloadBytes) {
                return false;
            }
            if (input.size() < kHeaderBytes + length) {
                break;
            }
            const std::string payload = input.substr(kHeaderBytes, length);
            input.erase(0, kHeaderBytes + length);
            handle(type, payload);
        }
        return true;
    }

    void handle(uint32_t type, const std::string& payload) {
        if (type & kEventBit) {
            askTree();  // a window or workspace changed
            return;
        }
        if (type != kGetTree) {
            return;
        }
        treeAsked = false;
        if (std::exchange(treeStale, false)) {
            askTree();
        }
        auto tree = nlohmann::json::parse(payload, nullptr, false);
        if (tree.is_discarded()) {
            log.error("sway sent a tree that is not JSON");
            return;
        }
        record->publish(focusedInSwayTree(tree));
    }
};

SwayFrontApplication::SwayFrontApplication() : m_state(std::make_shared<State>()) {
    m_state->record = m_record;
}

SwayFrontApplication::~SwayFrontApplication() = default;

bool SwayFrontApplication::attach(std::shared_ptr<WaylandEventLoop> loop,
                                  const std::string& socketPath, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    std::string path = socketPath == "none" ? "" : socketPath;
    if (socketPath.empty()) {
        const char* env = std::getenv("SWAYSOCK");
        path = env ? env : "";
    }
    if (path.empty()) {
        return fail("not running under sway (SWAYSOCK is not set)");
    }
    State& state = *m_state;
    if ((state.fd = connectUnixSocket(path)) < 0) {
        return fail("cannot connect to sway's IPC socket " + path);
    }
    if (!state.sendMessage(kSubscribe, R"(["window","workspace"])")) {
        return fail("sway's IPC socket does not take requests");
    }
    state.askTree();
    std::weak_ptr<State> weak = m_state;
    watchFocusSocket(
        *loop, state.fd, m_record,
        [weak] {
            auto self = weak.lock();
            return !self || self->readable();
        },
        log, "sway");
    m_loop = std::move(loop);
    return true;
}

}  // namespace velmarune
