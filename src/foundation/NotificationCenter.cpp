#include "foundation/NotificationCenter.h"

#include <vector>

namespace velmarune {

NotificationCenter::NotificationCenter(MainQueue& mainQueue)
    : m_mainQueue(mainQueue), m_registry(std::make_shared<Registry>()) {}

void NotificationCenter::post(const std::string& name, const std::string& object) {
    std::weak_ptr<Registry> weak = m_registry;
    m_mainQueue.post([weak, name, object] {
        auto registry = weak.lock();
        if (!registry) {
            return;
        }
        // Observers are looked up when the notification is delivered, and
        // re-checked one by one, so an observer may remove itself or another.
        std::vector<std::pair<uint64_t, std::shared_ptr<Observer>>> targets;
        {
            std::lock_guard lock(registry->mutex);
            auto [first, last] = registry->observers.equal_range(name);
            for (auto it = first; it != last; ++it) {
                targets.push_back(it->second);
            }
        }
        for (const auto& [id, observer] : targets) {
            bool stillObserving = false;
            {
                std::lock_guard lock(registry->mutex);
                auto [first, last] = registry->observers.equal_range(name);
                for (auto it = first; it != last && !stillObserving; ++it) {
                    stillObserving = it->second.first == id;
                }
            }
            if (stillObserving) {
                (*observer)(object);
            }
        }
    });
}

Subscription NotificationCenter::observe(const std::string& name, Observer observer) {
    uint64_t id = 0;
    {
        std::lock_guard lock(m_registry->mutex);
        id = m_registry->nextID++;
        m_registry->observers.emplace(
            name, std::make_pair(id, std::make_shared<Observer>(std::move(observer))));
    }
    std::weak_ptr<Registry> weak = m_registry;
    return Subscription([weak, name, id] {
        auto registry = weak.lock();
        if (!registry) {
            return;
        }
        std::lock_guard lock(registry->mutex);
        auto [first, last] = registry->observers.equal_range(name);
        for (auto it = first; it != last; ++it) {
            if (it->second.first == id) {
                registry->observers.erase(it);
                break;
            }
        }
    });
}

}  // namespace velmarune
