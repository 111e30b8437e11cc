#pragma once

#include "foundation/RunLoopMainQueue.h"

namespace velmarune::testing {

// The product's run-loop queue for integration tests: work posted from any
// thread runs on the test's thread while it pumps.
class PumpedMainQueue : public RunLoopMainQueue {
  public:
    void runFor(double seconds) {
        runUntil([] { return false; }, seconds);
    }
};

}  // namespace velmarune::testing
