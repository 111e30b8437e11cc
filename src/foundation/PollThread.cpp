#include "foundation/PollThread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace velmarune {

PollThread::PollThread() : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

PollThread::~PollThread() {
    stop();
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
    }
}

void PollThread::start(std::function<bool()> pass) {
    if (!valid() || m_thread.joinable()) {
        return;
    }
    m_running = true;
    m_thread = std::thread([this, pass = std::move(pass)] {
        while (true) {
            std::deque<std::function<void()>> tasks;
            bool stopping = false;
            {
                std::lock_guard lock(m_mutex);
                tasks.swap(m_tasks);
                stopping = m_stopping;
            }
            for (auto& task : tasks) task();
            if (stopping || !pass()) {
                break;
            }
        }
        std::lock_guard lock(m_mutex);
        m_running = false;
        m_tasks.clear();
    });
}

void PollThread::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void PollThread::markStopped() {
    std::lock_guard lock(m_mutex);
    m_running = false;
}

bool PollThread::post(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || m_stopping) {
            return false;
        }
        m_tasks.push_back(std::move(task));
    }
    wake();
    return true;
}

void PollThread::addDeadline(std::function<std::optional<Clock::time_point>()> next) {
    m_deadlines.push_back(std::move(next));
}

int PollThread::timeoutMs() const {
    int timeout = -1;
    const auto now = Clock::now();
    for (const auto& next : m_deadlines) {
        if (auto due = next()) {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(*due - now).count() + 1;
            const int clamped = static_cast<int>(std::clamp<int64_t>(ms, 0, INT32_MAX));
            timeout = timeout < 0 ? clamped : std::min(timeout, clamped);
        }
    }
    return timeout;
}

bool PollThread::wait(std::vector<pollfd>& fds) {
    for (auto& entry : fds) entry.revents = 0;
    fds.push_back({m_wakeFd, POLLIN, 0});
    const int timeout = timeoutMs();
    const bool failed = poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR;
    if (fds.back().revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] auto got = read(m_wakeFd, &count, sizeof count);
    }
    fds.pop_back();
    return !failed;
}

void PollThread::wake() {
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = write(m_wakeFd, &one, sizeof one);
    }
}

}  // namespace velmarune
