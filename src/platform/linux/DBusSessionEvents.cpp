#include "platform/linux/DBusSessionEvents.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/linux/DBusSignalWatch.h"

namespace velmarune {

namespace {

constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";
constexpr const char* kLoginSession = "org.freedesktop.login1.Session";
constexpr const char* kDisplayConfig = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// The screensavers that report whether the screen is locked, and where.
struct ScreenSaver {
    const char* service;
    const char* path;
};
constexpr ScreenSaver kScreenSavers[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver"},
};

// While a bus is not connected, how often the listening thread tries again;
// with both connected it sleeps until a bus or the stop wakes it.
constexpr int kRetryMilliseconds = 250;

const char* eventName(SessionEvent event) {
    switch (event) {
        case SessionEvent::screenLocked:
            return "screen locked";
        case SessionEvent::screenUnlocked:
            return "screen unlocked";
        case SessionEvent::displaySlept:
            return "display slept";
        case SessionEvent::displayWoke:
            return "display woke";
        case SessionEvent::willSleep:
            return "will sleep";
        case SessionEvent::didWake:
            return "did wake";
        case SessionEvent::willPowerOff:
            return "will power off";
        case SessionEvent::sessionInactive:
            return "session inactive";
        case SessionEvent::sessionActive:
            return "session active";
    }
    return "unknown";
}

std::optional<bool> readBool(sd_bus_message* message) {
    int value = 0;
    if (sd_bus_message_read(message, "b", &value) < 0) {
        return std::nullopt;
    }
    return value != 0;
}

// The entry `property` of a PropertiesChanged signal, of the basic type
// `type` ("b" or "i", both read as an int); none when the signal does not
// carry it.
std::optional<int> readChangedProperty(sd_bus_message* message, const char* property,
                                       const char* type) {
    const char* interface = nullptr;
    if (sd_bus_message_read(message, "s", &interface) < 0 ||
        sd_bus_message_enter_container(message, 'a', "{sv}") < 0) {
        return std::nullopt;
    }
    std::optional<int> found;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) < 0) {
            return std::nullopt;
        }
        int value = 0;
        if (std::strcmp(name, property) == 0 &&
            sd_bus_message_read(message, "v", type, &value) >= 0) {
            found = value;
        } else if (sd_bus_message_skip(message, "v") < 0) {
            return std::nullopt;
        }
        if (sd_bus_message_exit_container(message) < 0) {
            return std::nullopt;
        }
    }
    return found;
}

// Our login session: the one this process belongs to, else the one named by
// the environment, else the user's graphical session (a process started by
// the user's service manager belongs to none).
std::optional<std::string> ownSessionID() {
    char* session = nullptr;
    if (sd_pid_get_session(0, &session) >= 0 && session != nullptr) {
        std::string id = session;
        std::free(session);
        return id;
    }
    if (const char* id = std::getenv("XDG_SESSION_ID"); id != nullptr && *id != '\0') {
        return std::string(id);
    }
    if (sd_uid_get_display(getuid(), &session) >= 0 && session != nullptr) {
        std::string id = session;
        std::free(session);
        return id;
    }
    return std::nullopt;
}

}  // namespace

DBusSessionEvents::DBusSessionEvents(MainQueue& mainQueue) : m_mainQueue(mainQueue) {}

DBusSessionEvents::~DBusSessionEvents() {
    stop();
}

Subscription DBusSessionEvents::observe(Observer observer) {
    return m_observers.add(std::move(observer));
}

void DBusSessionEvents::start() {
    if (m_thread.joinable()) {
        return;
    }
    m_stopRequested = false;
    m_wakeFD = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    {
        std::lock_guard lock(m_mutex);
        m_listening = false;
    }
    m_thread = std::thread([this] { run(); });
}

void DBusSessionEvents::stop() {
    if (!m_thread.joinable()) {
        return;
    }
    m_stopRequested = true;
    if (m_wakeFD >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = write(m_wakeFD, &one, sizeof one);
    }
    m_thread.join();
    if (m_wakeFD >= 0) {
        ::close(m_wakeFD);
        m_wakeFD = -1;
    }
}

bool DBusSessionEvents::waitUntilListening(double timeoutSeconds) {
    std::unique_lock lock(m_mutex);
    return m_listeningChanged.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                       [this] { return m_listening; });
}

void DBusSessionEvents::setListening() {
    std::lock_guard lock(m_mutex);
    if (!m_listening) {
        m_listening = true;
        m_listeningChanged.notify_all();
    }
}

void DBusSessionEvents::run() {
    m_screenLocked.reset();
    m_displayAsleep.reset();
    DBusSignalWatch system(DBusSignalWatch::Bus::system, m_log);
    DBusSignalWatch session(DBusSignalWatch::Bus::session, m_log);
    if (system.open()) {
        listenToLogind(system);
    }
    if (session.open()) {
        listenToDesktop(session);
    }
    while (!m_stopRequested) {
        system.process();
        session.process();
        if (!system.isSettingUp() && !session.isSettingUp()) {
            setListening();
        }
        waitForActivity(system, session);
    }
}

void DBusSessionEvents::waitForActivity(DBusSignalWatch& system, DBusSignalWatch& session) {
    pollfd entries[3] = {};
    nfds_t count = 0;
    entries[count++] = {m_wakeFD, POLLIN, 0};
    int timeoutMilliseconds = -1;
    for (DBusSignalWatch* bus : {&system, &session}) {
        if (!bus->isOpen()) {
            timeoutMilliseconds = kRetryMilliseconds;
            continue;
        }
        entries[count++] = bus->pollEntry();
        if (const int due = bus->waitMilliseconds(); due >= 0) {
            timeoutMilliseconds =
                timeoutMilliseconds < 0 ? due : std::min(timeoutMilliseconds, due);
        }
    }
    poll(entries, count, timeoutMilliseconds);
}

void DBusSessionEvents::listenToLogind(DBusSignalWatch& bus) {
    bus.watchSignal(kLogin, kLoginPath, kLoginManager, "PrepareForSleep",
                    [this](sd_bus_message* message) {
                        if (auto start = readBool(message)) {
                            report(*start ? SessionEvent::willSleep : SessionEvent::didWake);
                        }
                    });
    // PrepareForShutdown(false) means a shutdown was called off: nothing to do.
    bus.watchSignal(kLogin, kLoginPath, kLoginManager, "PrepareForShutdown",
                    [this](sd_bus_message* message) {
                        if (readBool(message).value_or(false)) {
                            report(SessionEvent::willPowerOff);
                        }
                    });

    const auto id = ownSessionID();
    if (!id) {
        m_log.info("no login session found; listening for lock and unlock of any session");
        listenToLockOf(bus, {});
        return;
    }
    bus.callWithString(kLogin, kLoginPath, kLoginManager, "GetSession", *id,
                       [this, &bus, id = *id](sd_bus_message* reply) {
                           const char* path = nullptr;
                           if (reply == nullptr || sd_bus_message_read(reply, "o", &path) < 0) {
                               m_log.info(
                                   "login session %{public}s not found; listening for "
                                   "lock and unlock of any session",
                                   id);
                               listenToLockOf(bus, {});
                               return;
                           }
                           listenToLockOf(bus, path);
                       });
}

void DBusSessionEvents::listenToLockOf(DBusSignalWatch& bus, const std::string& sessionPath) {
    bus.watchSignal(kLogin, sessionPath, kLoginSession, "Lock",
                    [this](sd_bus_message*) { report(SessionEvent::screenLocked); });
    bus.watchSignal(kLogin, sessionPath, kLoginSession, "Unlock",
                    [this](sd_bus_message*) { report(SessionEvent::screenUnlocked); });
    if (sessionPath.empty()) {
        return;  // whether some other session is active says nothing about ours
    }
    bus.watchSignal(
        kLogin, sessionPath, kProperties, "PropertiesChanged",
        [this](sd_bus_message* message) {
            if (const auto active = readChangedProperty(message, "Active", "b")) {
                report(*active != 0 ? SessionEvent::sessionActive : SessionEvent::sessionInactive);
            }
        },
        kLoginSession);
}

void DBusSessionEvents::listenToDesktop(DBusSignalWatch& bus) {
    for (const auto& saver : kScreenSavers) {
        bus.watchSignal(
            saver.service, saver.path, saver.service, "ActiveChanged",
            [this](sd_bus_message* message) {
                if (auto active = readBool(message)) {
                    report(*active ? SessionEvent::screenLocked : SessionEvent::screenUnlocked);
                }
            });
    }
    bus.watchSignal(
        kDisplayConfig, "/org/gnome/Mutter/DisplayConfig", kProperties, "PropertiesChanged",
        [this](sd_bus_message* message) {
            // 0 on, 1 standby, 2 suspend, 3 off, -1 unsupported.
            const auto mode = readChangedProperty(message, "PowerSaveMode", "i");
            if (mode && *mode >= 0) {
                report(*mode == 0 ? SessionEvent::displayWoke : SessionEvent::displaySlept);
            }
        },
        kDisplayConfig);
}

void DBusSessionEvents::report(SessionEvent event) {
    // Lock and display events are states that several sources repeat.
    auto changes = [](std::optional<bool>& state, bool value) {
        if (state == value) {
            return false;
        }
        state = value;
        return true;
    };
    switch (event) {
        case SessionEvent::screenLocked:
        case SessionEvent::screenUnlocked:
            if (!changes(m_screenLocked, event == SessionEvent::screenLocked)) {
                return;
            }
            break;
        case SessionEvent::displaySlept:
        case SessionEvent::displayWoke:
            if (!changes(m_displayAsleep, event == SessionEvent::displaySlept)) {
                return;
            }
            break;
        case SessionEvent::sessionInactive:
        case SessionEvent::sessionActive:
            if (!changes(m_sessionInactive, event == SessionEvent::sessionInactive)) {
                return;
            }
            break;
        default:
            break;
    }
    m_log.debug("%{public}s", eventName(event));
    m_mainQueue.post([notify = m_observers.weakNotifier(), event] { notify(event); });
}

}  // namespace velmarune
