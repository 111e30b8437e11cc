#pragma once

#include <functional>
#include <utility>

namespace velmarune {

// Ends a subscription when destroyed. Safe to outlive the value it watched.
class Subscription {
  public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : m_cancel(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : m_cancel(std::exchange(other.m_cancel, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            m_cancel = std::exchange(other.m_cancel, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (auto cancel = std::exchange(m_cancel, {})) {
            cancel();
        }
    }

  private:
    std::function<void()> m_cancel;
};

}  // namespace velmarune
