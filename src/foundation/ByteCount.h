#pragma once

#include <cstdint>
#include <string>

namespace velmarune {

// A file size the way the desktop's file manager shows it: decimal units
// (1 kB = 1000 bytes), one decimal below 100 of a unit, none above, no
// trailing ".0": "574 MB", "1.6 GB", "2 GB", "999 bytes".
std::string formatByteCount(int64_t bytes);

}  // namespace velmarune
