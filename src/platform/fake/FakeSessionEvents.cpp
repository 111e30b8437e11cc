#include "platform/fake/FakeSessionEvents.h"

#include <utility>

namespace velmarune {

Subscription FakeSessionEvents::observe(Observer observer) {
    const uint64_t id = m_observers->nextID++;
    m_observers->callbacks.emplace(id, std::move(observer));
    std::weak_ptr<Observers> weak = m_observers;
    return Subscription([weak, id] {
        if (auto observers = weak.lock()) {
            observers->callbacks.erase(id);
        }
    });
}

void FakeSessionEvents::emit(SessionEvent event) {
    // Copy first: an observer may subscribe or unsubscribe while called.
    auto snapshot = m_observers->callbacks;
    for (auto& [id, observer] : snapshot) {
        if (m_observers->callbacks.count(id) != 0) {
            observer(event);
        }
    }
}

}  // namespace velmarune
