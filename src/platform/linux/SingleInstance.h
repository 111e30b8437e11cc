#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "foundation/Log.h"
#include "foundation/MainQueue.h"

struct sd_bus;

namespace velmarune {

inline constexpr const char* kSingleInstanceBusName = "com.quorin.Velmarune";
inline constexpr const char* kSingleInstanceObjectPath = "/com/quorin/Velmarune";
inline constexpr const char* kSingleInstanceInterface = "com.quorin.Velmarune";

// Keeps the desktop application to one instance per user: two would both hear
// the chord and paste every dictation twice. The first instance holds an
// exclusive lock file and owns kSingleInstanceBusName on the session bus;
// a later start asks it (method Activate) to show itself, then gives way.
// Either one alone is enough to tell that an instance runs, so a start with
// no bus, or a bus that went away, still never makes a second instance.
//
// The same object answers the push-to-talk control (PushToTalkPress,
// PushToTalkRelease, Toggle, PasteLast) that compositor key bindings call
// through `velmarune ptt`. Only callers running as our own user are heard.
class SingleInstance {
  public:
    // What the running instance is asked to do; each runs on the main queue.
    // A request without a handler is answered and ignored.
    struct Requests {
        std::function<void()> show;
        std::function<void()> pushToTalkPress;
        std::function<void()> pushToTalkRelease;
        std::function<void()> toggle;
        std::function<void()> pasteLast;
    };

    struct Claim {
        bool first = false;
        // For a later start: the line to print before exiting.
        std::string message;
    };

    // `lockFolder` holds the lock file (the runtime folder, normally);
    // it is created when missing.
    explicit SingleInstance(std::filesystem::path lockFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Once, on the main thread, before anything else starts. Blocks for the
    // bus's answers (bounded by its call timeout).
    Claim claim();

    // After a first claim: answers the bus methods on a thread of its own and
    // runs the matching request on `mainQueue` for each call. The queue must
    // outlive this object (or stop()).
    void listen(MainQueue& mainQueue, Requests requests);
    void stop();

  private:
    // sd-bus's callbacks, which answer the methods above.
    friend struct SingleInstanceMethods;

    bool takeLock();
    std::string askRunningInstance();
    void run();

    std::filesystem::path m_lockFolder;
    Logger m_log{"SingleInstance"};
    int m_lockFD = -1;
    sd_bus* m_bus = nullptr;
    MainQueue* m_mainQueue = nullptr;
    Requests m_requests;
    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    int m_wakeFD = -1;
};

}  // namespace velmarune
