#pragma once

#include <optional>
#include <string>

namespace velmarune {

// Asks the running Velmarune, over the user's session bus, to perform one of
// its control methods (PushToTalkPress, PushToTalkRelease, Toggle,
// PasteLast). Waits a bounded time for the answer. Returns the reason in
// plain words when the request did not arrive; nothing on success.
std::optional<std::string> sendControlRequest(const std::string& method);

}  // namespace velmarune
