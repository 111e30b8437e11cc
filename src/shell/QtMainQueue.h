#pragma once

#include "foundation/MainQueue.h"

class QObject;

namespace velmarune {

// The product's main queue: work runs on the Qt event loop of `context`'s
// thread; delays are precise timers there.
class QtMainQueue : public MainQueue {
  public:
    explicit QtMainQueue(QObject* context);

    void post(Task task) override;
    void postAfter(double delaySeconds, Task task) override;
    TimePoint now() const override;
    WallTime wallNow() const override;

  private:
    QObject* m_context;
};

}  // namespace velmarune
