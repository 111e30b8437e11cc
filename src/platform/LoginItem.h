#pragma once

#include <optional>
#include <string>

namespace velmarune {

// Starting the application when the user logs in.
class LoginItem {
  public:
    virtual ~LoginItem() = default;
    // Returns the error's description on failure. Logs "Login item registered"
    // or "Register failed: ..." under "LaunchAgentService".
    virtual std::optional<std::string> registerLoginItem() = 0;
    virtual std::optional<std::string> unregisterLoginItem() = 0;
    virtual bool isRegistered() const = 0;
};

}  // namespace velmarune
