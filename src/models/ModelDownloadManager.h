#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Published.h"
#include "models/DownloadState.h"
#include "models/ModelEntry.h"
#include "models/ModelLocator.h"

namespace velmarune {

// Posted (object: the entry's ID) once a downloaded model is verified and in place.
inline constexpr char kModelDownloadCompletedNotification[] =
    "com.quorin.velmarune.modelDownloadCompleted";

// Downloads catalogue entries, checks each whole file against its SHA-256
// digest and only then puts it in place of the installed file. One transfer
// per entry, each on its own worker thread; every change of `states` happens
// on the main queue.
class ModelDownloadManager {
  public:
    using States = std::map<std::string, DownloadState>;
    // Free bytes on the volume holding a folder, or nothing when unknown.
    using FreeSpaceProbe = std::function<std::optional<int64_t>(const std::filesystem::path&)>;

    // The SHA-256 of a file as lower-case hex; `shouldStop` is asked between
    // blocks and ends the work with an Error when it answers true.
    using Digest = std::function<std::string(const std::filesystem::path&,
                                             const std::function<bool()>& shouldStop)>;

    // Empty probes take the real volume and sha256HexOfFile.
    ModelDownloadManager(MainQueue& mainQueue, NotificationCenter& notifications,
                         const ModelLocator& locator, FreeSpaceProbe freeSpace = {},
                         Digest digest = {});
    // Stops every transfer (and verification) and waits for its thread.
    ~ModelDownloadManager();
    ModelDownloadManager(const ModelDownloadManager&) = delete;
    ModelDownloadManager& operator=(const ModelDownloadManager&) = delete;

    // Main thread. A second start while the entry downloads does nothing.
    // The file comes from the locator's download address for the entry.
    void start(const ModelEntry& entry);
    // Main thread. Stops the entry's transfer and forgets its state at once.
    void cancel(const ModelEntry& entry);

    Published<States>& states() { return m_states; }

    // The file an entry's download is checked in before it replaces anything.
    static std::filesystem::path partPath(const std::filesystem::path& installPath);

  private:
    struct Transfer;

    void runTransfer(const std::shared_ptr<Transfer>& transfer);
    std::optional<std::string> performTransfer(Transfer& transfer);
    // The three events of a transfer, in this order, on its worker thread.
    void didWriteData(Transfer& transfer, int64_t written, int64_t expected);
    void didFinishDownloading(const std::shared_ptr<Transfer>& transfer,
                              const std::filesystem::path& temporary);
    void didComplete(const std::shared_ptr<Transfer>& transfer, const std::string& error);
    // With m_lock held: removes the transfer from both maps; its entry, or
    // nothing when it was no longer there.
    std::optional<ModelEntry> forgetLocked(const Transfer& transfer);

    // Main thread: the entry's state becomes failed with `error`.
    void setFailed(const std::string& id, const std::string& error);
    // Any thread: the same, through the main queue, unless cancelled by then.
    void postFailed(const std::shared_ptr<Transfer>& transfer, const std::string& error);
    // Runs `work` on the main queue unless this manager has gone by then.
    void onMain(std::function<void()> work);
    void reapFinishedThreads();
    void removeAbandonedDownloads(const ModelEntry& entry);

    MainQueue& m_mainQueue;
    NotificationCenter& m_notifications;
    const ModelLocator& m_locator;
    FreeSpaceProbe m_freeSpace;
    Digest m_digest;
    Logger m_log{"ModelDownloadManager"};
    Published<States> m_states;
    // Main-queue work checks the weak copy, which worker threads may read
    // while the destructor drops the strong one.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    std::weak_ptr<int> m_aliveWeak;
    std::atomic<bool> m_shuttingDown{false};

    std::mutex m_lock;  // guards m_tasks and m_taskToEntry
    std::map<std::string, std::shared_ptr<Transfer>> m_tasks;
    std::map<uint64_t, ModelEntry> m_taskToEntry;
    uint64_t m_nextTaskID = 1;

    std::mutex m_threadsMutex;
    std::vector<std::pair<std::shared_ptr<Transfer>, std::thread>> m_threads;
};

}  // namespace velmarune
