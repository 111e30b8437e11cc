#pragma once

#include <cstdio>
#include <string>

namespace velmarune {

// The terminal commands' report of a settings problem (a file that cannot be
// read, one moved aside, a change not saved): one line on stderr.
inline void reportSettingsProblem(const std::string& message) {
    std::fprintf(stderr, "velmarune: %s\n", message.c_str());
}

}  // namespace velmarune
