#pragma once

#include <chrono>
#include <cstdint>

namespace velmarune {

// Wall-clock time points: the diagnostic log prints them as dates, and the
// manual main queue advances them virtually in tests.
using TimePoint = std::chrono::system_clock::time_point;

inline double secondsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

// Whole milliseconds, truncated towards zero.
inline int64_t millisecondsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

inline TimePoint addSeconds(TimePoint t, double seconds) {
    return t + std::chrono::duration_cast<TimePoint::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace velmarune
