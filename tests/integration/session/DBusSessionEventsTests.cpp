#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RunLoopMainQueue.h"
#include "platform/linux/DBusSessionEvents.h"
#include "support/CapturingLogSink.h"
#include "support/PrivateSessionBus.h"
#include "support/Process.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace velmarune {

namespace {

using testing::ScopedEnv;
using testing::TempDir;
using Events = std::vector<SessionEvent>;

constexpr const char* kMySession = "/org/freedesktop/login1/session/c7";
constexpr const char* kOtherSession = "/org/freedesktop/login1/session/c8";
constexpr double kWaitSeconds = 5.0;

// A connection of the test's own to the private bus.
class Connection {
  public:
    Connection() { EXPECT_GE(sd_bus_open_user(&m_bus), 0); }
    ~Connection() { sd_bus_flush_close_unref(m_bus); }

    // Sends a signal to everyone listening (destination empty) or to one
    // connection.
    template <typename... Args>
    void send(const std::string& destination, const char* path, const char* interface,
              const char* member, const char* types, Args... args) {
        sd_bus_message* message = nullptr;
        ASSERT_GE(sd_bus_message_new_signal(m_bus, &message, path, interface, member), 0);
        if (!destination.empty()) {
            ASSERT_GE(sd_bus_message_set_destination(message, destination.c_str()), 0);
        }
        if (types[0] != '\0') {
            ASSERT_GE(sd_bus_message_append(message, types, args...), 0);
        }
        EXPECT_GE(sd_bus_send(m_bus, message, nullptr), 0) << member;
        sd_bus_message_unref(message);
        sd_bus_flush(m_bus);
    }

    const char* name() const {
        const char* unique = nullptr;
        sd_bus_get_unique_name(m_bus, &unique);
        return unique;
    }

    // Every other connection on the bus: the listener's two among them. A
    // call, so everything sent before has reached the bus.
    std::vector<std::string> others() {
        std::vector<std::string> names;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(m_bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "ListNames", nullptr, &reply, "") >= 0 &&
            sd_bus_message_enter_container(reply, 'a', "s") > 0) {
            const char* other = nullptr;
            while (sd_bus_message_read(reply, "s", &other) > 0) {
                if (other[0] == ':' && std::string(other) != name()) {
                    names.push_back(other);
                }
            }
        }
        sd_bus_message_unref(reply);
        return names;
    }

  protected:
    sd_bus* m_bus = nullptr;
};

// logind, the screensavers and GNOME's display configuration: a connection
// that owns their names, answers GetSession with our session and emits their
// signals, so that they really come from each name's owner.
class FakeServices : public Connection {
  public:
    FakeServices() {
        static const sd_bus_vtable manager[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("GetSession", "s", "o", getSession, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        EXPECT_GE(sd_bus_add_object_vtable(m_bus, nullptr, "/org/freedesktop/login1",
                                           "org.freedesktop.login1.Manager", manager, nullptr),
                  0);
        for (const char* name : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver",
                                 "org.gnome.Mutter.DisplayConfig", "org.freedesktop.login1"}) {
            EXPECT_GE(sd_bus_request_name(m_bus, name, 0), 0) << name;
        }
    }

    // Answers the calls that have arrived.
    void serve() {
        while (sd_bus_process(m_bus, nullptr) > 0) {
        }
    }
    void sleep(bool start) {
        send("", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
             "b", start);
    }
    void shutdown(bool start) {
        send("", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForShutdown",
             "b", start);
    }
    void lock(const char* session, bool locked) {
        send("", session, "org.freedesktop.login1.Session", locked ? "Lock" : "Unlock", "");
    }
    // `service` is org.freedesktop.ScreenSaver or org.gnome.ScreenSaver.
    void screenSaver(const std::string& service, bool active) {
        std::string path = "/" + service;
        std::replace(path.begin(), path.end(), '.', '/');
        send("", path.c_str(), service.c_str(), "ActiveChanged", "b", active);
    }
    void powerSaveMode(int32_t mode) {
        send("", "/org/gnome/Mutter/DisplayConfig", "org.freedesktop.DBus.Properties",
             "PropertiesChanged", "sa{sv}as", "org.gnome.Mutter.DisplayConfig", 2,
             "ApplyMonitorsConfigAllowed", "b", 1, "PowerSaveMode", "i", mode, 0);
    }
    void sessionActive(const char* session, bool active) {
        send("", session, "org.freedesktop.DBus.Properties", "PropertiesChanged", "sa{sv}as",
             "org.freedesktop.login1.Session", 2, "Type", "s", "wayland", "Active", "b", active, 0);
    }

  private:
    static int getSession(sd_bus_message* call, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(call, "o", kMySession);
    }
};

// A private bus standing in for both the system and the session bus, the
// services on it, and a client that owns no name.
class SessionEventsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_bus.start(m_dir.path()));
        m_system.emplace("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address());
        m_sessionID.emplace("XDG_SESSION_ID", "c7");
        m_services.emplace();
        m_client.emplace();
    }

    void TearDown() override {
        m_events.stop();
        m_services.reset();
        m_client.reset();
    }

    void startListening() {
        m_events.start();
        ASSERT_TRUE(testing::waitUntil(
            [&] {
                m_services->serve();
                return m_events.waitUntilListening(0.005);
            },
            kWaitSeconds, 0.005));
    }

    // Pumps the main queue until `count` events arrived (or time runs out).
    Events waitForEvents(size_t count) {
        m_queue.runUntil([&] { return m_seen.size() >= count; }, kWaitSeconds);
        return m_seen;
    }

    TempDir m_dir{"velmarune-session"};
    testing::PrivateSessionBus m_bus;
    std::optional<ScopedEnv> m_system, m_sessionID;
    std::optional<FakeServices> m_services;
    std::optional<Connection> m_client;  // owns no name
    RunLoopMainQueue m_queue;
    DBusSessionEvents m_events{m_queue};
    Events m_seen;
    Subscription m_subscription =
        m_events.observe([this](SessionEvent event) { m_seen.push_back(event); });
};

// Every observer hears each event (an ended subscription's silence is the
// observer list's own unit test).
TEST_F(SessionEventsTest, DeliversTheMappedEventsInOrderToEveryObserver) {
    Events second;
    auto secondSubscription = m_events.observe([&](SessionEvent e) { second.push_back(e); });
    startListening();

    // The system and session buses are separate connections with no order
    // between them: each phase ends on an event that shows it was handled.
    FakeServices& services = *m_services;
    services.sleep(true);
    services.sleep(false);
    services.lock(kMySession, true);
    waitForEvents(3);
    // The screensaver confirming the same lock is no second event.
    services.screenSaver("org.freedesktop.ScreenSaver", true);
    services.powerSaveMode(3);
    waitForEvents(4);
    services.lock(kMySession, false);
    waitForEvents(5);
    services.screenSaver("org.gnome.ScreenSaver", true);
    services.screenSaver("org.freedesktop.ScreenSaver", false);
    services.powerSaveMode(1);   // still asleep
    services.powerSaveMode(-1);  // unsupported says nothing
    services.powerSaveMode(0);
    waitForEvents(8);
    // Another user's session taking the seat says nothing; ours losing it
    // does, once.
    services.sessionActive(kOtherSession, false);
    services.sessionActive(kMySession, false);
    services.sessionActive(kMySession, false);
    services.sessionActive(kMySession, true);
    services.shutdown(false);  // called off
    services.shutdown(true);

    const Events expected = {
        SessionEvent::willSleep,      SessionEvent::didWake,        SessionEvent::screenLocked,
        SessionEvent::displaySlept,   SessionEvent::screenUnlocked, SessionEvent::screenLocked,
        SessionEvent::screenUnlocked, SessionEvent::displayWoke,    SessionEvent::sessionInactive,
        SessionEvent::sessionActive,  SessionEvent::willPowerOff,
    };
    EXPECT_EQ(waitForEvents(expected.size()), expected);
    EXPECT_EQ(second, expected);
}

TEST_F(SessionEventsTest, IgnoresSignalsNotSentByTheServiceOwner) {
    startListening();
    Connection& forger = *m_client;
    // Broadcast by a connection that owns none of the names.
    forger.send("", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                "b", 1);
    forger.send("", kMySession, "org.freedesktop.login1.Session", "Lock", "");
    forger.send("", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged", "b", 1);
    // Sent straight to the listener, which the bus delivers whatever the
    // match rules say; a forged ownership change first.
    for (const auto& listener : forger.others()) {
        forger.send(listener, "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                    "sss", "org.freedesktop.login1", "", forger.name());
        forger.send(listener, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                    "PrepareForShutdown", "b", 1);
        forger.send(listener, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
                    "ActiveChanged", "b", 1);
    }
    forger.others();  // a call: the forged signals are on their way first
    // The real logind locking another user's session.
    m_services->lock(kOtherSession, true);
    // Signals arrive in order, so anything let through would precede this.
    m_services->sleep(false);

    EXPECT_EQ(waitForEvents(1), Events{SessionEvent::didWake});
}

TEST_F(SessionEventsTest, FollowsAServiceThatComesBackUnderANewConnection) {
    startListening();
    m_services.reset();
    m_services.emplace();
    m_services->sleep(true);
    m_services->screenSaver("org.freedesktop.ScreenSaver", true);
    EXPECT_EQ(waitForEvents(2), (Events{SessionEvent::willSleep, SessionEvent::screenLocked}));
}

TEST(SessionEventsWithoutBus, LogsEachMissingBusOnceAndDeliversNothing) {
    TempDir dir{"velmarune-nobus"};
    const std::string missing = "unix:path=" + (dir / "no-bus").string();
    ScopedEnv system("DBUS_SYSTEM_BUS_ADDRESS", missing);
    ScopedEnv session("DBUS_SESSION_BUS_ADDRESS", missing);
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);

    RunLoopMainQueue queue;
    DBusSessionEvents events(queue);
    Events seen;
    auto subscription = events.observe([&](SessionEvent e) { seen.push_back(e); });
    events.start();
    events.start();  // already started: no second thread, no second report
    ASSERT_TRUE(events.waitUntilListening(kWaitSeconds));
    events.stop();
    events.stop();
    queue.runPending();

    const auto lines = sink->messages("SessionEvents");
    ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0].rfind("system bus unavailable: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("session bus unavailable: ", 0), 0u) << lines[1];
    EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace velmarune
