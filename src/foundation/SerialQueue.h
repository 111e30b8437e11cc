#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "foundation/Task.h"

namespace velmarune {

// A named worker thread that runs work one item at a time, in order. The
// thread starts with start() and ends with stop() (or the destructor), which
// finishes the work already queued first, including work a `sync` queued
// while the queue was stopping. Any thread may call any member.
class SerialQueue : public Executor {
  public:
    explicit SerialQueue(std::string name);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void start();
    void stop();

    void async(std::function<void()> work);
    // Runs `work` on the queue and waits for it. Called on the queue itself it
    // runs inline, so it can never deadlock on its own thread.
    void sync(const std::function<void()>& work);
    void execute(std::function<void()> work) override { async(std::move(work)); }

    bool isCurrent() const;
    const std::string& name() const { return m_name; }

  private:
    void run();

    std::string m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_work;
    bool m_stopping = false;
    // Counted from start() until the worker has taken its last item: work
    // queued meanwhile is run.
    int m_liveWorkers = 0;
    std::thread m_thread;
    // Set by the worker itself, so that isCurrent never reads m_thread while
    // start or stop changes it.
    std::atomic<std::thread::id> m_workerID{};
};

// An executor for tests: work waits until runAll().
class ManualExecutor : public Executor {
  public:
    void execute(std::function<void()> work) override;
    size_t runAll();
    size_t pendingCount() const;

  private:
    mutable std::mutex m_mutex;
    std::deque<std::function<void()>> m_work;
};

}  // namespace velmarune
