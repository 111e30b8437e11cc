#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmarune {

// The frontmost application. Backends keep it current from their own event
// stream, so both questions are answered from memory at once.
class FrontApplication {
  public:
    virtual ~FrontApplication() = default;
    // Any thread. Its class, ":" and its process id ("?" for a missing
    // class, 0 for an unknown id); absent when no window is active.
    virtual std::optional<std::string> frontmost() = 0;
    // Any thread. The names the active window's application goes by (on X11
    // the WM_CLASS instance and class), for rules chosen per application;
    // empty when no window is active.
    virtual std::vector<std::string> frontmostClassNames() = 0;
    // Any thread. How many times the active window has changed since the
    // backend started: tells a change apart where identities cannot.
    virtual uint64_t activationCount() = 0;
    // Called on the backend's own thread whenever the active window changes,
    // after the answers above have changed.
    virtual void setOnActivation(std::function<void()> callback) = 0;
};

}  // namespace velmarune
