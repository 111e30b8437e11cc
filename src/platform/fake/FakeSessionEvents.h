#pragma once

#include <map>

#include "platform/SessionEvents.h"

namespace velmarune {

// Session events the test sends itself, delivered at once on the caller's thread.
class FakeSessionEvents : public SessionEvents {
  public:
    Subscription observe(Observer observer) override {
        const int id = m_next++;
        m_observers->emplace(id, std::move(observer));
        return Subscription([observers = m_observers, id] { observers->erase(id); });
    }
    void send(SessionEvent event) {
        auto copy = *m_observers;
        for (auto& [id, observer] : copy) observer(event);
    }
    size_t observerCount() const { return m_observers->size(); }

  private:
    std::shared_ptr<std::map<int, Observer>> m_observers =
        std::make_shared<std::map<int, Observer>>();
    int m_next = 0;
};

}  // namespace velmarune
