#pragma once

#include <functional>

namespace velmarune {

// The start-up permission walk: explains each missing grant and calls back
// when it is over. It never blocks on a grant.
class PermissionWalk {
  public:
    virtual ~PermissionWalk() = default;
    // `onComplete` runs once on the main thread.
    virtual void run(bool firstRun, std::function<void()> onComplete) = 0;
};

// Grants everything at once: for a desktop where nothing needs asking, and
// until an explainer exists.
class ImmediatePermissionWalk : public PermissionWalk {
  public:
    void run(bool, std::function<void()> onComplete) override { onComplete(); }
};

}  // namespace velmarune
