#pragma once

#include <string>

namespace velmarune {

// How long ago something happened, in words, as a date would be written
// relative to now in US English with named forms where the language has
// them: "now", "5 minutes ago", "1 hour ago", "yesterday", "last week".
// The largest whole unit is used. A time in the future reads "now".
std::string relativeTimeAgo(double secondsAgo);

}  // namespace velmarune
