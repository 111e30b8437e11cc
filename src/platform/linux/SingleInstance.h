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
class SingleInstance {
  public:
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

    // After a first claim: answers Activate on a thread of its own and runs
    // `onShow` on `mainQueue` for each call. Both must outlive this object
    // (or stop()).
    void listen(MainQueue& mainQueue, std::function<void()> onShow);
    void stop();

  private:
    bool takeLock();
    std::string askRunningInstance();
    void run();

    std::filesystem::path m_lockFolder;
    Logger m_log{"SingleInstance"};
    int m_lockFD = -1;
    sd_bus* m_bus = nullptr;
    MainQueue* m_mainQueue = nullptr;
    std::function<void()> m_onShow;
    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    int m_wakeFD = -1;
};

}  // namespace velmarune
