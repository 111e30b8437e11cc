#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmarune {

// The identity of a front window the backend cannot name: no class or app id
// and no process id. Two such windows may be different applications.
inline constexpr const char* kUnknownFrontIdentity = "?:0";

// Whether the window in front now is another application than the one in
// front at release. Named identities are compared. Where either is unknown
// the identities say nothing, so any activation since the release counts as
// a change: pasting into what may be another application is worse than
// offering the text in the didn't-paste prompt. An absent front application
// (none active, or a desktop that does not say) never stops the paste.
bool frontChanged(const std::optional<std::string>& atRelease, uint64_t activationsAtRelease,
                  const std::optional<std::string>& now, uint64_t activationsNow);

}  // namespace velmarune
