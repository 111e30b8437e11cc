#include "platform/linux/DBusSignalWatch.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

namespace velmarune {

namespace {

constexpr const char* kBusDriver = "org.freedesktop.DBus";
// A hung bus must not hold a subscription or a call open for long.
constexpr uint64_t kMethodCallTimeoutMicroseconds = 5'000'000;

std::string errorText(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

std::string errorText(sd_bus_message* reply) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    if (error != nullptr && error->message != nullptr) {
        return error->message;
    }
    return error != nullptr && error->name != nullptr ? error->name : "unknown error";
}

}  // namespace

DBusSignalWatch::DBusSignalWatch(Bus bus, Logger log) : m_which(bus), m_log(std::move(log)) {}

DBusSignalWatch::~DBusSignalWatch() {
    close();
}

const char* DBusSignalWatch::busName() const {
    return m_which == Bus::system ? "system" : "session";
}

bool DBusSignalWatch::open() {
    sd_bus* bus = nullptr;
    const int r = m_which == Bus::system ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
    if (r < 0) {
        m_log.error("%{public}s bus unavailable: %{public}s", busName(), errorText(r));
        return false;
    }
    sd_bus_set_method_call_timeout(bus, kMethodCallTimeoutMicroseconds);
    m_bus = bus;
    return true;
}

void DBusSignalWatch::close() {
    if (m_bus != nullptr) {
        // Closing drops every floating slot, so no callback runs afterwards.
        m_bus = sd_bus_flush_close_unref(m_bus);
    }
    m_pendingReplies = 0;
}

DBusSignalWatch::Callback& DBusSignalWatch::keep(Callback callback) {
    callback.watch = this;
    m_callbacks.push_back(std::move(callback));
    return m_callbacks.back();
}

void DBusSignalWatch::addMatch(const std::string& rule, Callback& callback) {
    const int r =
        sd_bus_add_match_async(m_bus, nullptr, rule.c_str(), onSignal, onMatchInstalled, &callback);
    if (r < 0) {
        m_log.error("cannot subscribe to %{public}s: %{public}s", callback.description,
                    errorText(r));
        return;
    }
    ++m_pendingReplies;
}

void DBusSignalWatch::trackOwner(const std::string& service) {
    if (m_owners.count(service) != 0) {
        return;
    }
    m_owners[service] = "";
    Callback& changed = keep(
        {nullptr, "NameOwnerChanged(" + service + ")", kBusDriver, [this](sd_bus_message* message) {
             const char* name = nullptr;
             const char* oldOwner = nullptr;
             const char* newOwner = nullptr;
             if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) >= 0 &&
                 m_owners.count(name) != 0) {
                 m_owners[name] = newOwner;
             }
         }});
    addMatch(
        "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
        "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
            service + "'",
        changed);
    // Asked after subscribing: the daemon answers in order, so the reply and
    // the changes that follow it arrive in the order they happened.
    Callback& current =
        keep({nullptr, "GetNameOwner(" + service + ")", {}, [this, service](sd_bus_message* reply) {
                  const char* owner = nullptr;
                  if (reply != nullptr && sd_bus_message_read(reply, "s", &owner) >= 0) {
                      m_owners[service] = owner;
                  }
              }});
    const int r =
        sd_bus_call_method_async(m_bus, nullptr, kBusDriver, "/org/freedesktop/DBus", kBusDriver,
                                 "GetNameOwner", onReply, &current, "s", service.c_str());
    if (r >= 0) {
        ++m_pendingReplies;
    }
}

void DBusSignalWatch::watchSignal(const std::string& service, const std::string& path,
                                  const std::string& interface, const std::string& member,
                                  Handler handler, const std::string& arg0) {
    if (m_bus == nullptr) {
        return;
    }
    trackOwner(service);
    std::string rule = "type='signal',sender='" + service + "',interface='" + interface +
                       "',member='" + member + "'";
    if (!path.empty()) {
        rule += ",path='" + path + "'";
    }
    if (!arg0.empty()) {
        rule += ",arg0='" + arg0 + "'";
    }
    addMatch(rule, keep({nullptr, interface + "." + member, service, std::move(handler)}));
}

void DBusSignalWatch::callWithString(const std::string& service, const std::string& path,
                                     const std::string& interface, const std::string& member,
                                     const std::string& argument, Handler onReplyHandler) {
    if (m_bus == nullptr) {
        return;
    }
    Callback& callback = keep({nullptr, interface + "." + member, {}, std::move(onReplyHandler)});
    const int r =
        sd_bus_call_method_async(m_bus, nullptr, service.c_str(), path.c_str(), interface.c_str(),
                                 member.c_str(), onReply, &callback, "s", argument.c_str());
    if (r < 0) {
        m_log.error("cannot call %{public}s: %{public}s", callback.description, errorText(r));
        callback.handler(nullptr);
        return;
    }
    ++m_pendingReplies;
}

int DBusSignalWatch::onSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto& callback = *static_cast<Callback*>(userdata);
    const char* sender = sd_bus_message_get_sender(message);
    if (sender == nullptr) {
        return 0;
    }
    const bool fromOwner = callback.service == kBusDriver
                               ? std::strcmp(sender, kBusDriver) == 0
                               : callback.watch->m_owners[callback.service] == sender;
    if (fromOwner) {
        callback.handler(message);
    }
    return 0;
}

int DBusSignalWatch::onMatchInstalled(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto& callback = *static_cast<Callback*>(userdata);
    --callback.watch->m_pendingReplies;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        callback.watch->m_log.error("cannot subscribe to %{public}s: %{public}s",
                                    callback.description, errorText(reply));
    }
    return 0;
}

int DBusSignalWatch::onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto& callback = *static_cast<Callback*>(userdata);
    --callback.watch->m_pendingReplies;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        // A service that is not running is expected; say so only in debug.
        callback.watch->m_log.debug("%{public}s failed: %{public}s", callback.description,
                                    errorText(reply));
        callback.handler(nullptr);
    } else {
        callback.handler(reply);
    }
    return 0;
}

pollfd DBusSignalWatch::pollEntry() const {
    pollfd entry{};
    entry.fd = sd_bus_get_fd(m_bus);
    const int events = sd_bus_get_events(m_bus);
    entry.events = static_cast<short>(events > 0 ? events : 0);
    return entry;
}

int DBusSignalWatch::waitMilliseconds() const {
    return busWaitMilliseconds(m_bus);
}

int busWaitMilliseconds(sd_bus* bus) {
    uint64_t deadline = UINT64_MAX;  // absolute, CLOCK_MONOTONIC, µs
    if (sd_bus_get_timeout(bus, &deadline) < 0 || deadline == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowMicroseconds =
        static_cast<uint64_t>(now.tv_sec) * 1'000'000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
    const uint64_t left = deadline > nowMicroseconds ? deadline - nowMicroseconds : 0;
    return static_cast<int>(std::min<uint64_t>((left + 999) / 1000, INT32_MAX));
}

void DBusSignalWatch::process() {
    while (m_bus != nullptr) {
        const int r = sd_bus_process(m_bus, nullptr);
        if (r < 0) {
            m_log.error("%{public}s bus connection lost: %{public}s", busName(), errorText(r));
            close();
            return;
        }
        if (r == 0) {
            return;
        }
    }
}

}  // namespace velmarune
