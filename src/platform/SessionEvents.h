#pragma once

#include <functional>

#include "foundation/Published.h"

namespace velmarune {

enum class SessionEvent {
    screenLocked,
    screenUnlocked,
    displaySlept,
    displayWoke,
    willSleep,
    didWake,
    willPowerOff,
    // Another session took the seat (user switching, another virtual
    // terminal), and ours got it back.
    sessionInactive,
    sessionActive,
};

// Sleep, wake, lock and display power changes of the user's session.
class SessionEvents {
  public:
    using Observer = std::function<void(SessionEvent)>;
    virtual ~SessionEvents() = default;
    // The observer is called on the main thread until the subscription ends.
    virtual Subscription observe(Observer observer) = 0;
};

}  // namespace velmarune
