#pragma once

#include <functional>
#include <optional>
#include <string>

namespace velmarune {

// The frontmost application's identity: its class, ":" and its process id
// ("?" for a missing class); absent when no window is active.
class FrontApplication {
  public:
    virtual ~FrontApplication() = default;
    // Any thread.
    virtual std::optional<std::string> frontmost() = 0;
    // Called on the backend's own thread whenever the active window changes.
    virtual void setOnActivation(std::function<void()> callback) = 0;
};

}  // namespace velmarune
