#include "foundation/SerialQueue.h"

#include <pthread.h>

#include <future>

namespace velmarune {

SerialQueue::SerialQueue(std::string name) : m_name(std::move(name)) {}

SerialQueue::~SerialQueue() {
    stop();
}

void SerialQueue::start() {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) {
        return;
    }
    m_stopping = false;
    ++m_liveWorkers;
    m_thread = std::thread([this] { run(); });
    // Linux limits thread names to 15 characters; keep the distinctive tail.
    std::string shortName = m_name.size() > 15 ? m_name.substr(m_name.size() - 15) : m_name;
    pthread_setname_np(m_thread.native_handle(), shortName.c_str());
}

void SerialQueue::stop() {
    std::thread worker;
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            return;
        }
        m_stopping = true;
        // Taken out under the lock: of two concurrent stops only one joins.
        worker = std::move(m_thread);
    }
    m_wake.notify_all();
    if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
    } else {
        worker.join();
    }
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
    }
    m_wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    std::unique_lock lock(m_mutex);
    if (m_liveWorkers == 0) {
        // No worker (never started, or finished): nothing to order against,
        // and nothing would ever run queued work.
        lock.unlock();
        work();
        return;
    }
    // Queued under the lock the worker checks before it ends, so a stopping
    // worker still runs it.
    m_work.push_back([&] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    lock.unlock();
    m_wake.notify_one();
    finished.get();
}

bool SerialQueue::isCurrent() const {
    return m_workerID.load() == std::this_thread::get_id();
}

void SerialQueue::run() {
    m_workerID.store(std::this_thread::get_id());
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_work.empty(); });
            if (m_work.empty()) {
                --m_liveWorkers;
                m_workerID.store(std::thread::id());
                return;
            }
            work = std::move(m_work.front());
            m_work.pop_front();
        }
        work();
    }
}

void ManualExecutor::execute(std::function<void()> work) {
    std::lock_guard lock(m_mutex);
    m_work.push_back(std::move(work));
}

size_t ManualExecutor::runAll() {
    size_t ran = 0;
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(m_mutex);
            if (m_work.empty()) {
                return ran;
            }
            work = std::move(m_work.front());
            m_work.pop_front();
        }
        work();
        ++ran;
    }
}

size_t ManualExecutor::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_work.size();
}

}  // namespace velmarune
