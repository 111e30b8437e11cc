#include "platform/linux/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "platform/linux/DBusSignalWatch.h"

namespace velmarune {

namespace {

// A hung first instance must not hold a second start for long.
constexpr uint64_t kCallTimeoutMicroseconds = 2'000'000;
}  // namespace

struct SingleInstanceMethods {
    static int onMethod(sd_bus_message* message, void* userdata, sd_bus_error* error);
};

int SingleInstanceMethods::onMethod(sd_bus_message* message, void* userdata, sd_bus_error* error) {
    auto& self = *static_cast<SingleInstance*>(userdata);
    // A session bus can be opened to other users or the network by its
    // configuration: whoever else calls is refused.
    sd_bus_creds* creds = nullptr;
    uid_t caller = 0;
    const bool ours = sd_bus_query_sender_creds(message, SD_BUS_CREDS_EUID, &creds) >= 0 &&
                      sd_bus_creds_get_euid(creds, &caller) >= 0 && caller == ::geteuid();
    sd_bus_creds_unref(creds);
    if (!ours) {
        self.m_log.error("refused %{public}s from a caller that is not this user",
                         std::string(sd_bus_message_get_member(message)));
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED,
                                "Velmarune answers only its own user.");
    }
    const std::string member = sd_bus_message_get_member(message);
    const std::pair<const char*, std::function<void()>*> requests[] = {
        {"Activate", &self.m_requests.show},
        {"PushToTalkPress", &self.m_requests.pushToTalkPress},
        {"PushToTalkRelease", &self.m_requests.pushToTalkRelease},
        {"Toggle", &self.m_requests.toggle},
        {"PasteLast", &self.m_requests.pasteLast},
    };
    for (const auto& [name, request] : requests) {
        if (member == name) {
            if (member == "Activate") {
                self.m_log.info("a second start asked this instance to show itself");
            }
            if (*request && self.m_mainQueue != nullptr) {
                self.m_mainQueue->post(*request);
            }
        }
    }
    return sd_bus_reply_method_return(message, "");
}

namespace {
const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Activate", "", "", &SingleInstanceMethods::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PushToTalkPress", "", "", &SingleInstanceMethods::onMethod,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PushToTalkRelease", "", "", &SingleInstanceMethods::onMethod,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Toggle", "", "", &SingleInstanceMethods::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PasteLast", "", "", &SingleInstanceMethods::onMethod,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};
}  // namespace

SingleInstance::SingleInstance(std::filesystem::path lockFolder)
    : m_lockFolder(std::move(lockFolder)) {}

SingleInstance::~SingleInstance() {
    stop();
    if (m_bus != nullptr) {
        m_bus = sd_bus_flush_close_unref(m_bus);
    }
    if (m_lockFD >= 0) {
        ::close(m_lockFD);
    }
}

SingleInstance::Claim SingleInstance::claim() {
    const bool locked = takeLock();
    sd_bus* bus = nullptr;
    const int opened = sd_bus_open_user(&bus);
    if (opened < 0) {
        m_log.info("no session bus (%{public}s): one instance is kept by the lock file alone",
                   std::string(std::strerror(-opened)));
    } else {
        m_bus = bus;
        sd_bus_set_method_call_timeout(m_bus, kCallTimeoutMicroseconds);
    }
    if (!locked) {
        return {false, askRunningInstance()};
    }
    if (m_bus == nullptr) {
        return {true, {}};
    }
    // The method is in place before the name is: a start right after ours
    // finds it answering.
    int r = sd_bus_add_object_vtable(m_bus, nullptr, kSingleInstanceObjectPath,
                                     kSingleInstanceInterface, kVtable, this);
    if (r >= 0) {
        r = sd_bus_request_name(m_bus, kSingleInstanceBusName, 0);
    }
    if (r == -EEXIST) {
        // Another instance with a lock of its own (another runtime folder).
        return {false, askRunningInstance()};
    }
    if (r < 0) {
        m_log.error("cannot own %{public}s on the session bus: %{public}s",
                    std::string(kSingleInstanceBusName), std::string(std::strerror(-r)));
    }
    return {true, {}};
}

bool SingleInstance::takeLock() {
    std::error_code error;
    if (std::filesystem::create_directories(m_lockFolder, error)) {
        ::chmod(m_lockFolder.c_str(), 0700);
    }
    const auto file = m_lockFolder / "velmarune.lock";
    m_lockFD = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFD < 0) {
        // Not a reason to refuse to run: the bus name still keeps one instance.
        m_log.error("cannot open the instance lock %{public}s: %{public}s", file.string(),
                    std::string(std::strerror(errno)));
        return true;
    }
    if (::flock(m_lockFD, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        ::close(m_lockFD);
        m_lockFD = -1;
        if (failure == EWOULDBLOCK) {
            return false;
        }
        m_log.error("cannot lock %{public}s: %{public}s", file.string(),
                    std::string(std::strerror(failure)));
        return true;
    }
    // For a person looking: which process holds it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(m_lockFD, 0) == 0) {
        [[maybe_unused]] ssize_t n = ::write(m_lockFD, pid.data(), pid.size());
    }
    return true;
}

std::string SingleInstance::askRunningInstance() {
    const std::string running = "velmarune: Velmarune is already running";
    if (m_bus == nullptr) {
        return running + " (no session bus to ask it to show itself).";
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call_method(m_bus, kSingleInstanceBusName, kSingleInstanceObjectPath,
                                     kSingleInstanceInterface, "Activate", &error, nullptr, "");
    std::string message = running + "; it was asked to show itself.";
    if (r < 0) {
        message = running + " (it did not answer when asked to show itself: " +
                  (error.message != nullptr ? error.message : std::strerror(-r)) + ").";
    }
    sd_bus_error_free(&error);
    return message;
}

void SingleInstance::listen(MainQueue& mainQueue, Requests requests) {
    if (m_bus == nullptr || m_thread.joinable()) {
        return;
    }
    // Set before the thread starts, read only by it (copied into each post).
    m_mainQueue = &mainQueue;
    m_requests = std::move(requests);
    m_stopRequested = false;
    m_wakeFD = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

void SingleInstance::stop() {
    if (!m_thread.joinable()) {
        return;
    }
    m_stopRequested = true;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFD, &one, sizeof one);
    m_thread.join();
    ::close(m_wakeFD);
    m_wakeFD = -1;
}

void SingleInstance::run() {
    while (!m_stopRequested) {
        int r = 0;
        while ((r = sd_bus_process(m_bus, nullptr)) > 0) {
        }
        if (r < 0) {
            m_log.error(
                "session bus connection lost (%{public}s); the lock file still keeps this the "
                "only instance",
                std::string(std::strerror(-r)));
            return;
        }
        pollfd entries[2] = {{m_wakeFD, POLLIN, 0}, {sd_bus_get_fd(m_bus), 0, 0}};
        entries[1].events = static_cast<short>(std::max(sd_bus_get_events(m_bus), 0));
        // Until a message, the wake-up on stop or the bus's next deadline (a
        // pending call's timeout): an idle instance never wakes on a timer.
        ::poll(entries, 2, busWaitMilliseconds(m_bus));
    }
}

}  // namespace velmarune
