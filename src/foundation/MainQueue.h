#pragma once

#include <functional>

#include "foundation/Time.h"

namespace velmarune {

// The main thread as the core sees it: run work there now or later, and the
// clock that all timing rules are measured on. post/postAfter may be called
// from any thread; the work always runs on the main thread, in order.
class MainQueue {
public:
    using Task = std::function<void()>;

    virtual ~MainQueue() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(double delaySeconds, Task task) = 0;
    virtual TimePoint now() const = 0;
};

}  // namespace velmarune
