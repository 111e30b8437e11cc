#pragma once

#include <poll.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Log.h"

namespace velmarune {

// One connection to the system or the session bus that listens to signals of
// well-known services. A signal reaches its handler only when it comes from
// the connection that owns the service's name right now: the bus daemon
// delivers signals addressed to us directly whatever our match rules say, and
// sd-bus cannot check a well-known sender itself.
//
// Everything here runs on the thread that owns the object; nothing blocks:
// subscriptions and calls are asynchronous and the owner polls the connection.
class DBusSignalWatch {
  public:
    enum class Bus { system, session };
    using Handler = std::function<void(sd_bus_message*)>;

    DBusSignalWatch(Bus bus, Logger log);
    ~DBusSignalWatch();
    DBusSignalWatch(const DBusSignalWatch&) = delete;
    DBusSignalWatch& operator=(const DBusSignalWatch&) = delete;

    // Connects to the address in the environment (DBUS_SYSTEM_BUS_ADDRESS or
    // DBUS_SESSION_BUS_ADDRESS, else the standard place). Logs and returns
    // false when there is no bus.
    bool open();
    bool isOpen() const { return m_bus != nullptr; }

    // Runs `handler` for each signal `interface.member` that the owner of
    // `service` sends on `path` (any path when empty), optionally only those
    // whose first argument is `arg0`.
    void watchSignal(const std::string& service, const std::string& path,
                     const std::string& interface, const std::string& member, Handler handler,
                     const std::string& arg0 = {});

    // Calls a method taking one string; `onReply` gets the reply, or nullptr
    // when the call failed (the failure is logged).
    void callWithString(const std::string& service, const std::string& path,
                        const std::string& interface, const std::string& member,
                        const std::string& argument, Handler onReply);

    // True until every subscription and call made so far has been answered.
    bool isSettingUp() const { return m_pendingReplies > 0; }

    // What to poll for, and how long poll may wait before sd-bus has a
    // timeout to handle (-1: none). Only while open.
    pollfd pollEntry() const;
    int waitMilliseconds() const;

    // Handles everything that has arrived. A broken connection is logged once
    // and closed.
    void process();

  private:
    struct Callback {
        DBusSignalWatch* watch = nullptr;
        std::string description;
        std::string service;  // the sender a signal must come from; empty: the bus itself
        Handler handler;
    };

    static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error* error);
    static int onMatchInstalled(sd_bus_message* reply, void* userdata, sd_bus_error* error);
    static int onReply(sd_bus_message* reply, void* userdata, sd_bus_error* error);

    void trackOwner(const std::string& service);
    void addMatch(const std::string& rule, Callback& callback);
    Callback& keep(Callback callback);
    void close();
    const char* busName() const;

    Bus m_which;
    Logger m_log;
    sd_bus* m_bus = nullptr;
    int m_pendingReplies = 0;
    // Unique connection name of each watched service's current owner.
    std::map<std::string, std::string> m_owners;
    // Stable addresses: sd-bus holds pointers to these until the bus closes.
    std::list<Callback> m_callbacks;
};

// How long poll may wait on `bus` before sd-bus has a timeout to handle
// (-1: none).
int busWaitMilliseconds(sd_bus* bus);

}  // namespace velmarune
