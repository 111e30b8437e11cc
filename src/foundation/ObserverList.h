#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "foundation/Subscription.h"

namespace velmarune {

// Callbacks that receive a value, each registered for the lifetime of the
// Subscription it returns. Observers may subscribe or unsubscribe while being
// notified. Not thread-safe: use it on one thread (the main one).
template <typename T>
class ObserverList {
  public:
    using Observer = std::function<void(const T&)>;

    [[nodiscard]] Subscription add(Observer observer) {
        const uint64_t id = m_state->nextID++;
        m_state->callbacks.emplace(id, std::move(observer));
        std::weak_ptr<State> weak = m_state;
        return Subscription([weak, id] {
            if (auto state = weak.lock()) {
                state->callbacks.erase(id);
            }
        });
    }

    void notify(const T& value) const { notifyState(m_state, value); }

    // Notifies later (from posted work) without keeping the list alive: does
    // nothing once the list is gone.
    std::function<void(const T&)> weakNotifier() const {
        std::weak_ptr<State> weak = m_state;
        return [weak](const T& value) {
            if (auto state = weak.lock()) {
                notifyState(state, value);
            }
        };
    }

    size_t size() const { return m_state->callbacks.size(); }

  private:
    struct State {
        uint64_t nextID = 0;
        std::map<uint64_t, Observer> callbacks;
    };

    static void notifyState(const std::shared_ptr<State>& state, const T& value) {
        // Copy first: an observer may subscribe or unsubscribe while called.
        auto snapshot = state->callbacks;
        for (auto& [id, observer] : snapshot) {
            if (state->callbacks.count(id) != 0) {
                observer(value);
            }
        }
    }

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

}  // namespace velmarune
