#pragma once

#include <functional>
#include <utility>

#include "foundation/ObserverList.h"
#include "foundation/Subscription.h"

namespace velmarune {

// An observable value. set() notifies only when the value really changes, so
// observers never redraw for nothing. Main thread only.
template <typename T>
class Published {
  public:
    using Observer = std::function<void(const T&)>;

    Published() : Published(T{}) {}
    explicit Published(T initial) : m_value(std::move(initial)) {}
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
        m_observers.notify(m_value);
        return true;
    }

    [[nodiscard]] Subscription subscribe(Observer observer) {
        return m_observers.add(std::move(observer));
    }

  private:
    T m_value;
    ObserverList<T> m_observers;
};

}  // namespace velmarune
