#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/SessionEvents.h"

namespace velmarune {

// Session events for tests: the test emits them itself, on the main thread.
class FakeSessionEvents : public SessionEvents {
  public:
    Subscription observe(Observer observer) override;

    // Delivers the event to every current observer, at once.
    void emit(SessionEvent event);
    size_t observerCount() const { return m_observers->callbacks.size(); }

  private:
    struct Observers {
        uint64_t nextID = 0;
        std::map<uint64_t, Observer> callbacks;
    };
    std::shared_ptr<Observers> m_observers = std::make_shared<Observers>();
};

}  // namespace velmarune
