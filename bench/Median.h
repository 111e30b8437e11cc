#pragma once

#include <algorithm>
#include <vector>

namespace velmarune::bench {

// The middle value (the upper one of an even count); 0 for none.
inline double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace velmarune::bench
