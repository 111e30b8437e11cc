#include "platform/fake/FakeSessionEvents.h"

#include <utility>

namespace velmarune {

Subscription FakeSessionEvents::observe(Observer observer) {
    return m_observers.add(std::move(observer));
}

void FakeSessionEvents::emit(SessionEvent event) {
    m_observers.notify(event);
}

}  // namespace velmarune
