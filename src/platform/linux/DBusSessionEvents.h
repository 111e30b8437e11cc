#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/ObserverList.h"
#include "platform/SessionEvents.h"

namespace velmarune {

class DBusSignalWatch;

// Session events read from D-Bus on a thread of their own:
// - system bus, logind: PrepareForSleep (true: willSleep, false: didWake),
//   PrepareForShutdown(true) (willPowerOff), Lock/Unlock of our own session
//   (of any session when ours cannot be found) and changes of its Active
//   property (sessionInactive / sessionActive);
// - session bus: ActiveChanged of org.freedesktop.ScreenSaver and
//   org.gnome.ScreenSaver (screen locked / unlocked), and GNOME's display
//   power-save mode (displaySlept / displayWoke). Other desktops do not
//   publish display power in a readable way, so they give no display events.
// Several sources report the same lock, so a lock or display state is passed
// on only when it changes. A missing bus is logged once; the object then
// simply delivers less.
//
// Observers run on the main thread, through the injected queue, which must
// outlive this object. observe/start/stop are called on the main thread.
class DBusSessionEvents : public SessionEvents {
  public:
    explicit DBusSessionEvents(MainQueue& mainQueue);
    ~DBusSessionEvents() override;
    DBusSessionEvents(const DBusSessionEvents&) = delete;
    DBusSessionEvents& operator=(const DBusSessionEvents&) = delete;

    Subscription observe(Observer observer) override;

    // Connects and listens; does nothing while already started.
    void start();
    // Ends the listening thread and waits for it (promptly: its waits are
    // bounded and stop wakes them). Observers stay subscribed.
    void stop();

    // Waits until the buses have answered every subscription made at start
    // (or were found missing). For tests and start-up diagnostics.
    bool waitUntilListening(double timeoutSeconds);

  private:
    void run();
    void listenToLogind(DBusSignalWatch& bus);
    void listenToLockOf(DBusSignalWatch& bus, const std::string& sessionPath);
    void listenToDesktop(DBusSignalWatch& bus);
    void waitForActivity(DBusSignalWatch& system, DBusSignalWatch& session);
    void setListening();
    // Listening thread: applies the change rule and posts the event.
    void report(SessionEvent event);

    MainQueue& m_mainQueue;
    Logger m_log{"SessionEvents"};
    ObserverList<SessionEvent> m_observers;

    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    int m_wakeFD = -1;

    std::mutex m_mutex;
    std::condition_variable m_listeningChanged;
    bool m_listening = false;

    // Listening thread only.
    std::optional<bool> m_screenLocked;
    std::optional<bool> m_displayAsleep;
    std::optional<bool> m_sessionInactive;
};

}  // namespace velmarune
