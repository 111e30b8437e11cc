#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
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

// An observable value. set() notifies only when the value really changes, so
// observers never redraw for nothing. Main thread only.
template <typename T>
class Published {
public:
    using Observer = std::function<void(const T&)>;

    Published() : Published(T{}) {}
    explicit Published(T initial)
        : m_value(std::move(initial)), m_observers(std::make_shared<Observers>()) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return m_value; }
    const T& operator()() const { return m_value; }

    // Returns true when the value changed (and observers were told).
    bool set(T value) {
        if (value == m_value) {
            return false;
        }
        m_value = std::move(value);
        // Copy first: an observer may subscribe or unsubscribe while notified.
        auto snapshot = m_observers->callbacks;
        for (auto& [id, observer] : snapshot) {
            if (m_observers->callbacks.count(id) != 0) {
                observer(m_value);
            }
        }
        return true;
    }

    [[nodiscard]] Subscription subscribe(Observer observer) {
        const uint64_t id = m_observers->nextID++;
        m_observers->callbacks.emplace(id, std::move(observer));
        std::weak_ptr<Observers> weak = m_observers;
        return Subscription([weak, id] {
            if (auto observers = weak.lock()) {
                observers->callbacks.erase(id);
            }
        });
    }

private:
    struct Observers {
        uint64_t nextID = 0;
        std::map<uint64_t, Observer> callbacks;
    };

    T m_value;
    std::shared_ptr<Observers> m_observers;
};

}  // namespace velmarune
