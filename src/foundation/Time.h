#pragma once

#include <chrono>
#include <cstdint>

namespace velmarune {

// The clock every timing rule is measured on: it is never stepped (NTP, a
// changed time zone, a corrected date after resume), and it keeps counting
// while the machine sleeps, so "ten minutes ago" still means ten minutes of
// real time after a resume.
struct MonotonicClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<MonotonicClock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept;
};

// A moment on the monotonic clock: for measuring, never for showing.
using TimePoint = MonotonicClock::time_point;
// A moment on the wall clock: only for what is shown or written as a date.
using WallTime = std::chrono::system_clock::time_point;

template <class Clock, class Duration>
double secondsBetween(std::chrono::time_point<Clock, Duration> from,
                      std::chrono::time_point<Clock, Duration> to) {
    return std::chrono::duration<double>(to - from).count();
}

// Whole milliseconds, truncated towards zero.
template <class Clock, class Duration>
int64_t millisecondsBetween(std::chrono::time_point<Clock, Duration> from,
                            std::chrono::time_point<Clock, Duration> to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

template <class Clock, class Duration>
std::chrono::time_point<Clock, Duration> addSeconds(std::chrono::time_point<Clock, Duration> t,
                                                    double seconds) {
    return t + std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

}  // namespace velmarune
