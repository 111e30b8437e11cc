#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace velmarune {

// Shared cancellation flag of one background task. Long work (a decode)
// polls it so that a cancelled dictation stops promptly.
class CancellationToken {
public:
    CancellationToken() : m_flag(std::make_shared<std::atomic<bool>>(false)) {}
    bool isCancelled() const { return m_flag->load(std::memory_order_acquire); }
    void cancel() const { m_flag->store(true, std::memory_order_release); }

private:
    std::shared_ptr<std::atomic<bool>> m_flag;
};

// Where background work runs. The product uses a SerialQueue; tests use a
// ManualExecutor and run the work when they choose.
class Executor {
public:
    virtual ~Executor() = default;
    virtual void execute(std::function<void()> work) = 0;
};

// A cancellable piece of background work: the handle the owner keeps.
class BackgroundTask {
public:
    // Starts `body` on `executor`; the body receives the task's token.
    static BackgroundTask start(Executor& executor,
                                std::function<void(const CancellationToken&)> body) {
        BackgroundTask task;
        executor.execute([token = task.m_token, body = std::move(body)] { body(token); });
        return task;
    }

    void cancel() const { m_token.cancel(); }
    bool isCancelled() const { return m_token.isCancelled(); }
    const CancellationToken& token() const { return m_token; }

private:
    CancellationToken m_token;
};

}  // namespace velmarune
