#include "platform/evdev/EvdevKeyboardMonitor.h"

#include <linux/input.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Log.h"

namespace velmarune {

namespace {
const Logger kLog{"KeyboardMonitor"};

// epoll tags for the two descriptors that are not devices (devices are
// tagged with their own descriptor, which is never negative).
constexpr int64_t kWakeTag = -1;
constexpr int64_t kChangesTag = -2;

// Records read from one device per turn: a device that floods cannot starve
// the others (epoll is level-triggered; the rest waits for the next turn).
constexpr size_t kRecordsPerRead = 64;

bool addToEpoll(int epollFD, int fd, int64_t tag) {
    epoll_event entry{};
    entry.events = EPOLLIN;
    entry.data.u64 = static_cast<uint64_t>(tag);
    return epoll_ctl(epollFD, EPOLL_CTL_ADD, fd, &entry) == 0;
}
}  // namespace

EvdevKeyboardMonitor::EvdevKeyboardMonitor(std::unique_ptr<InputDeviceSource> source)
    : m_source(std::move(source)) {}

EvdevKeyboardMonitor::~EvdevKeyboardMonitor() {
    stop();
}

bool EvdevKeyboardMonitor::start(Handlers handlers) {
    stop();
    std::string problem;
    std::vector<InputDevice> keyboards = m_source->openKeyboards(problem);
    {
        std::lock_guard lock(m_problemMutex);
        m_problem = problem;
    }
    if (!problem.empty()) {
        kLog.error("%{public}s", problem);
    }
    if (keyboards.empty() && !problem.empty()) {
        return false;
    }
    m_epollFD = epoll_create1(EPOLL_CLOEXEC);
    m_wakeFD = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    addToEpoll(m_epollFD, m_wakeFD, kWakeTag);
    if (const int changes = m_source->changesFd(); changes >= 0) {
        addToEpoll(m_epollFD, changes, kChangesTag);
    }
    m_state = EvdevKeyState();
    EvdevKeyState::Reports unreported;
    m_state.setSessionActive(m_sessionActive.load(), unreported);
    for (InputDevice& keyboard : keyboards) {
        const int fd = keyboard.fd;
        add(std::move(keyboard));
        // Keys already down count as held, without being reported.
        resync(fd, unreported);
    }
    m_flags = m_state.flags();
    m_stopRequested = false;
    m_thread =
        std::thread([this, handlers = std::move(handlers)]() mutable { run(std::move(handlers)); });
    kLog.info("listening to %{public}zu keyboards (evdev, listen-only)", m_devices.size());
    return true;
}

void EvdevKeyboardMonitor::stop() {
    if (m_thread.joinable()) {
        m_stopRequested = true;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFD, &one, sizeof one);
        m_thread.join();
    }
    for (auto& [fd, open] : m_devices) {
        ::close(fd);
    }
    m_devices.clear();
    if (m_wakeFD >= 0) {
        ::close(m_wakeFD);
        m_wakeFD = -1;
    }
    if (m_epollFD >= 0) {
        ::close(m_epollFD);
        m_epollFD = -1;
    }
    m_flags = 0;
}

void EvdevKeyboardMonitor::setSessionActive(bool active) {
    m_sessionActive = active;
    if (m_wakeFD >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFD, &one, sizeof one);
    }
}

std::string EvdevKeyboardMonitor::problem() const {
    std::lock_guard lock(m_problemMutex);
    return m_problem;
}

void EvdevKeyboardMonitor::add(InputDevice device) {
    const int fd = device.fd;
    if (!addToEpoll(m_epollFD, fd, fd)) {
        kLog.error("cannot watch keyboard %{public}s: %{public}s", device.node,
                   std::string(std::strerror(errno)));
        ::close(fd);
        return;
    }
    kLog.info("keyboard %{public}s (%{public}s)", device.name, device.node);
    m_devices[fd] = Open{std::move(device), {}};
}

void EvdevKeyboardMonitor::remove(int fd, EvdevKeyState::Reports& reports) {
    auto found = m_devices.find(fd);
    if (found == m_devices.end()) {
        return;
    }
    kLog.info("keyboard gone: %{public}s", found->second.device.name);
    epoll_ctl(m_epollFD, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    m_devices.erase(found);
    m_state.removeDevice(fd, reports);
}

void EvdevKeyboardMonitor::resync(int fd, EvdevKeyState::Reports& reports) {
    // A recorded stream has no key state to ask for: all keys count as up,
    // which can only end a chord, never start one.
    unsigned char bits[EvdevKeyState::kKeyCount / 8] = {};
    std::bitset<EvdevKeyState::kKeyCount> held;
    if (::ioctl(fd, EVIOCGKEY(sizeof bits), bits) >= 0) {
        for (int code = 0; code < EvdevKeyState::kKeyCount; ++code) {
            if (bits[code / 8] & (1u << (code % 8))) {
                held.set(static_cast<size_t>(code));
            }
        }
    }
    m_state.resync(fd, held, reports);
}

void EvdevKeyboardMonitor::readDevice(int fd, EvdevKeyState::Reports& reports) {
    Open& open = m_devices.at(fd);
    input_event records[kRecordsPerRead];
    const size_t kept = open.partial.size();
    std::memcpy(records, open.partial.data(), kept);
    const ssize_t n = ::read(fd, reinterpret_cast<char*>(records) + kept, sizeof records - kept);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        // ENODEV: unplugged; end of file: a recorded stream that ended.
        remove(fd, reports);
        return;
    }
    const size_t bytes = kept + static_cast<size_t>(n);
    const size_t count = bytes / sizeof(input_event);
    open.partial.assign(reinterpret_cast<const char*>(records) + count * sizeof(input_event),
                        bytes - count * sizeof(input_event));
    for (size_t i = 0; i < count; ++i) {
        const input_event& record = records[i];
        if (m_state.event(fd, record.type, record.code, record.value, reports)) {
            resync(fd, reports);
        }
    }
}

void EvdevKeyboardMonitor::deliver(const Handlers& handlers,
                                   const EvdevKeyState::Reports& reports) {
    using Kind = EvdevKeyState::Report::Kind;
    bool lastWasKey = false;
    for (const auto& report : reports) {
        if (report.kind == Kind::flags) {
            lastWasKey = false;
            if (handlers.flagsChanged) {
                handlers.flagsChanged(report.value);
            }
        } else if (!lastWasKey) {
            // Only the first key after a modifier change decides anything
            // (it ends the chord's chance); a flood of keys posts one.
            lastWasKey = true;
            if (handlers.keyDown) {
                handlers.keyDown(static_cast<int64_t>(report.value));
            }
        }
    }
}

void EvdevKeyboardMonitor::run(Handlers handlers) {
    epoll_event ready[16];
    while (!m_stopRequested) {
        const int count = epoll_wait(m_epollFD, ready, 16, -1);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            kLog.error("keyboard listener stopped: %{public}s", std::string(std::strerror(errno)));
            return;
        }
        EvdevKeyState::Reports reports;
        for (int i = 0; i < count; ++i) {
            const auto tag = static_cast<int64_t>(ready[i].data.u64);
            if (tag == kWakeTag) {
                uint64_t value = 0;
                [[maybe_unused]] ssize_t n = ::read(m_wakeFD, &value, sizeof value);
                const bool active = m_sessionActive.load();
                if (active != m_state.sessionActive()) {
                    kLog.info("session %{public}s: keys %{public}s",
                              std::string(active ? "active" : "locked or inactive"),
                              std::string(active ? "heard again" : "ignored"));
                    m_state.setSessionActive(active, reports);
                    if (active) {
                        for (auto& [fd, open] : m_devices) {
                            resync(fd, reports);
                        }
                    }
                }
            } else if (tag == kChangesTag) {
                for (InputDevice& device : m_source->takeAdded()) {
                    add(std::move(device));
                }
            } else if (m_devices.count(static_cast<int>(tag)) != 0) {
                readDevice(static_cast<int>(tag), reports);
            }
        }
        if (m_stopRequested) {
            return;
        }
        m_flags = m_state.flags();
        deliver(handlers, reports);
    }
}

}  // namespace velmarune
