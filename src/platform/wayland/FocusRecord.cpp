#include "platform/wayland/FocusRecord.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "foundation/Log.h"
#include "platform/wayland/WaylandEventLoop.h"

namespace velmarune {

int connectUnixSocket(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        return -1;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void watchFocusSocket(WaylandEventLoop& loop, int fd, std::weak_ptr<FocusRecord> record,
                      std::function<bool()> readable, const Logger& log, const std::string& peer) {
    loop.watch(fd, POLLIN, [&loop, &log, fd, record, readable = std::move(readable), peer](short) {
        if (!readable()) {
            log.error("%{public}s's IPC connection closed; the front window is unknown from now on",
                      peer);
            loop.unwatch(fd);
            if (auto focus = record.lock())
                focus->publish(std::nullopt);
        }
    });
    // Without the compositor there is no window in front.
    loop.addDisconnectHandler([record] {
        if (auto focus = record.lock())
            focus->publish(std::nullopt);
    });
}

void FocusRecord::publish(std::optional<FocusedWindow> now) {
    std::function<void()> callback;
    {
        std::lock_guard lock(m_mutex);
        if (now == m_focused) {
            return;
        }
        m_focused = std::move(now);
        ++m_activations;
        callback = m_onActivation;
    }
    if (callback) {
        callback();
    }
}

std::optional<std::string> FocusRecord::identity() {
    std::lock_guard lock(m_mutex);
    return m_focused ? std::optional(m_focused->identity()) : std::nullopt;
}

std::vector<std::string> FocusRecord::names() {
    std::lock_guard lock(m_mutex);
    return m_focused ? m_focused->names : std::vector<std::string>{};
}

uint64_t FocusRecord::activations() {
    std::lock_guard lock(m_mutex);
    return m_activations;
}

void FocusRecord::setOnActivation(std::function<void()> callback) {
    std::lock_guard lock(m_mutex);
    m_onActivation = std::move(callback);
}

}  // namespace velmarune
