#include "foundation/ByteCount.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace velmarune {

std::string formatByteCount(int64_t bytes) {
    if (bytes < 0) {
        std::string text = formatByteCount(bytes == INT64_MIN ? INT64_MAX : -bytes);
        text.insert(text.begin(), '-');
        return text;
    }
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    value /= 1000.0;
    // Pick the unit after rounding, so 999 950 bytes reads "1 MB", not "1000 kB".
    for (;;) {
        const double rounded = value < 100.0 ? std::round(value * 10.0) / 10.0 : std::round(value);
        if (rounded < 1000.0 || unit + 1 == std::size(kUnits)) {
            value = rounded;
            break;
        }
        value /= 1000.0;
        ++unit;
    }
    char text[64];
    if (value < 100.0 && value != std::floor(value)) {
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
    }
    return text;
}

}  // namespace velmarune
