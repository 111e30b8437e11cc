#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/RunLoopMainQueue.h"
#include "platform/linux/DBusSessionEvents.h"
#include "support/Process.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace velmarune {

namespace {

using testing::ChildProcess;
using testing::ScopedEnv;
using testing::TempDir;
using Events = std::vector<SessionEvent>;

constexpr const char* kMySession = "/org/freedesktop/login1/session/c7";
constexpr const char* kOtherSession = "/org/freedesktop/login1/session/c8";
constexpr double kWaitSeconds = 5.0;

bool waitFor(const std::function<bool()>& done) {
    return testing::waitUntil(done, kWaitSeconds, 0.005);
}

// A private dbus-daemon standing in for both the system and the session bus,
// the helper that owns logind's and the screensavers' names on it, and a
// plain client connection for the test (which owns no such name).
class SessionEventsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testing::requireProgram("dbus-daemon", "dbus-daemon"));
        const auto socket = m_dir / "bus";
        m_address = "unix:path=" + socket.string();
        m_daemon = ChildProcess(
            {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + m_address}, {},
            "/dev/null", (m_dir / "daemon.log").string());
        m_system.emplace("DBUS_SYSTEM_BUS_ADDRESS", m_address);
        m_session.emplace("DBUS_SESSION_BUS_ADDRESS", m_address);
        m_sessionID.emplace("XDG_SESSION_ID", "c7");
        ASSERT_TRUE(waitFor([&] {
            if (!std::filesystem::exists(socket)) {
                return false;
            }
            sd_bus* bus = nullptr;
            if (sd_bus_open_user(&bus) < 0) {
                return false;
            }
            m_client = bus;
            return true;
        })) << "dbus-daemon did not start: "
            << testing::readFile(m_dir / "daemon.log");
        startHelper();
    }

    void TearDown() override {
        m_events.stop();
        m_helper.stop();
        m_client = sd_bus_flush_close_unref(m_client);
        m_daemon.stop();
    }

    void startHelper() {
        m_helper = ChildProcess({SESSION_BUS_HELPER, kMySession},
                                {{"DBUS_SESSION_BUS_ADDRESS", m_address}}, "/dev/null",
                                (m_dir / "helper.log").string());
        ASSERT_TRUE(waitFor([&] {
            sd_bus_message* reply = nullptr;
            int owned = 0;
            if (sd_bus_call_method(m_client, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                                   "org.freedesktop.login1") >= 0) {
                sd_bus_message_read(reply, "b", &owned);
            }
            sd_bus_message_unref(reply);
            return owned != 0;
        })) << "helper did not claim its names: "
            << testing::readFile(m_dir / "helper.log");
    }

    void startListening() {
        m_events.start();
        ASSERT_TRUE(m_events.waitUntilListening(kWaitSeconds));
    }

    // Asks the helper to emit a signal as the owner of the service's name;
    // returns after the signal was sent.
    template <typename... Args>
    void emit(const char* member, const char* types, Args... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        const int r = sd_bus_call_method(
            m_client, "org.freedesktop.login1", "/org/velmarune/SessionSignals",
            "org.velmarune.SessionSignals", member, &error, nullptr, types, args...);
        EXPECT_GE(r, 0) << member << ": " << (error.message ? error.message : "");
        sd_bus_error_free(&error);
    }

    // Sends a signal from the test's own connection, to everyone listening
    // (destination empty) or to one connection.
    template <typename... Args>
    void forge(const std::string& destination, const char* path, const char* interface,
               const char* member, const char* types, Args... args) {
        sd_bus_message* message = nullptr;
        ASSERT_GE(sd_bus_message_new_signal(m_client, &message, path, interface, member), 0);
        if (!destination.empty()) {
            ASSERT_GE(sd_bus_message_set_destination(message, destination.c_str()), 0);
        }
        if (types[0] != '\0') {
            ASSERT_GE(sd_bus_message_append(message, types, args...), 0);
        }
        EXPECT_GE(sd_bus_send(m_client, message, nullptr), 0);
        sd_bus_message_unref(message);
    }

    // Every other connection on the bus: the listener's two among them.
    std::vector<std::string> otherConnections() {
        std::vector<std::string> names;
        sd_bus_message* reply = nullptr;
        const char* self = nullptr;
        sd_bus_get_unique_name(m_client, &self);
        if (sd_bus_call_method(m_client, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "ListNames", nullptr, &reply, "") >= 0 &&
            sd_bus_message_enter_container(reply, 'a', "s") > 0) {
            const char* name = nullptr;
            while (sd_bus_message_read(reply, "s", &name) > 0) {
                if (name[0] == ':' && std::string(name) != self) {
                    names.push_back(name);
                }
            }
        }
        sd_bus_message_unref(reply);
        return names;
    }

    // Pumps the main queue until `count` events arrived (or time runs out).
    Events waitForEvents(size_t count) {
        m_queue.runUntil([&] { return m_seen.size() >= count; }, kWaitSeconds);
        return m_seen;
    }

    TempDir m_dir{"velmarune-session"};
    std::string m_address;
    ChildProcess m_daemon;
    ChildProcess m_helper;
    std::optional<ScopedEnv> m_system, m_session, m_sessionID;
    sd_bus* m_client = nullptr;
    RunLoopMainQueue m_queue;
    DBusSessionEvents m_events{m_queue};
    Events m_seen;
    Subscription m_subscription =
        m_events.observe([this](SessionEvent event) { m_seen.push_back(event); });
};

TEST_F(SessionEventsTest, DeliversTheMappedEventsInOrderToEveryObserver) {
    Events second;
    auto secondSubscription = m_events.observe([&](SessionEvent e) { second.push_back(e); });
    startListening();

    // The system and session buses are separate connections with no order
    // between them: each phase ends on an event that shows it was handled.
    emit("PrepareForSleep", "b", 1);
    emit("PrepareForSleep", "b", 0);
    emit("Lock", "o", kMySession);
    waitForEvents(3);
    // The screensaver confirming the same lock is no second event.
    emit("ActiveChanged", "sb", "org.freedesktop.ScreenSaver", 1);
    emit("PowerSaveMode", "i", 3);
    waitForEvents(4);
    emit("Unlock", "o", kMySession);
    waitForEvents(5);
    emit("ActiveChanged", "sb", "org.gnome.ScreenSaver", 1);
    emit("ActiveChanged", "sb", "org.freedesktop.ScreenSaver", 0);
    emit("PowerSaveMode", "i", 1);   // still asleep
    emit("PowerSaveMode", "i", -1);  // unsupported says nothing
    emit("PowerSaveMode", "i", 0);
    waitForEvents(8);
    // Another user's session taking the seat says nothing; ours losing it
    // does, once.
    emit("SessionActive", "ob", kOtherSession, 0);
    emit("SessionActive", "ob", kMySession, 0);
    emit("SessionActive", "ob", kMySession, 0);
    emit("SessionActive", "ob", kMySession, 1);
    emit("PrepareForShutdown", "b", 0);  // called off
    emit("PrepareForShutdown", "b", 1);

    const Events expected = {
        SessionEvent::willSleep,      SessionEvent::didWake,        SessionEvent::screenLocked,
        SessionEvent::displaySlept,   SessionEvent::screenUnlocked, SessionEvent::screenLocked,
        SessionEvent::screenUnlocked, SessionEvent::displayWoke,    SessionEvent::sessionInactive,
        SessionEvent::sessionActive,  SessionEvent::willPowerOff,
    };
    EXPECT_EQ(waitForEvents(expected.size()), expected);
    EXPECT_EQ(second, expected);

    // An ended subscription hears nothing more; the others still do.
    secondSubscription.reset();
    emit("PrepareForSleep", "b", 1);
    EXPECT_EQ(waitForEvents(expected.size() + 1).back(), SessionEvent::willSleep);
    EXPECT_EQ(second.size(), expected.size());
}

TEST_F(SessionEventsTest, IgnoresSignalsNotSentByTheServiceOwner) {
    startListening();
    // Broadcast by a connection that owns none of the names.
    forge("", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", "b",
          1);
    forge("", kMySession, "org.freedesktop.login1.Session", "Lock", "");
    forge("", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged", "b", 1);
    // Sent straight to the listener, which the bus delivers whatever the
    // match rules say; a forged ownership change first.
    const char* self = nullptr;
    sd_bus_get_unique_name(m_client, &self);
    for (const auto& listener : otherConnections()) {
        forge(listener, "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged", "sss",
              "org.freedesktop.login1", "", self);
        forge(listener, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
              "PrepareForShutdown", "b", 1);
        forge(listener, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
              "ActiveChanged", "b", 1);
    }
    // The real logind locking another user's session.
    emit("Lock", "o", kOtherSession);
    // Signals arrive in order, so anything let through would precede this.
    emit("PrepareForSleep", "b", 0);

    EXPECT_EQ(waitForEvents(1), Events{SessionEvent::didWake});
}

TEST_F(SessionEventsTest, FollowsAServiceThatComesBackUnderANewConnection) {
    startListening();
    m_helper.stop();
    startHelper();
    emit("PrepareForSleep", "b", 1);
    emit("ActiveChanged", "sb", "org.freedesktop.ScreenSaver", 1);
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
