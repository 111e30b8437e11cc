#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/MainQueue.h"
#include "foundation/Published.h"

namespace velmarune {

// In-process notifications by name, each carrying a string object (an entry
// ID, a device name). post() may be called from any thread; observers always
// run on the main queue, in posting order. Observing returns a Subscription
// that ends the observation when destroyed; a notification already on its way
// is not delivered to an observer that has gone meanwhile.
class NotificationCenter {
  public:
    using Observer = std::function<void(const std::string& object)>;

    explicit NotificationCenter(MainQueue& mainQueue);
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    void post(const std::string& name, const std::string& object = {});
    [[nodiscard]] Subscription observe(const std::string& name, Observer observer);

  private:
    struct Registry {
        std::mutex mutex;
        uint64_t nextID = 0;
        std::multimap<std::string, std::pair<uint64_t, std::shared_ptr<Observer>>> observers;
    };

    MainQueue& m_mainQueue;
    std::shared_ptr<Registry> m_registry;
};

}  // namespace velmarune
