#pragma once

#include <functional>

#include "foundation/Time.h"

namespace velmarune {

// The main thread as the core sees it: run work there now or later, and its
// two clocks. Every timing rule (delays, deadlines, expiries, "how long since")
// is measured on now(); wallNow() is only for dates that are shown or written.
// post/postAfter may be called from any thread; the work always runs on the
// main thread, in order. Both clocks may be read from any thread.
class MainQueue {
  public:
    using Task = std::function<void()>;

    virtual ~MainQueue() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(double delaySeconds, Task task) = 0;
    virtual TimePoint now() const = 0;
    virtual WallTime wallNow() const = 0;
};

}  // namespace velmarune
