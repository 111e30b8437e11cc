#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "foundation/ObserverList.h"
#include "platform/SessionEvents.h"

namespace velmarune {

// Session events for tests: the test emits them itself, on the main thread.
class FakeSessionEvents : public SessionEvents {
  public:
    Subscription observe(Observer observer) override;

    // Delivers the event to every current observer, at once.
    void emit(SessionEvent event);
    size_t observerCount() const { return m_observers.size(); }

  private:
    ObserverList<SessionEvent> m_observers;
};

}  // namespace velmarune
