#include "foundation/Time.h"

#include <time.h>

namespace velmarune {

MonotonicClock::time_point MonotonicClock::now() noexcept {
    timespec ts{};
    // CLOCK_BOOTTIME is CLOCK_MONOTONIC plus the time spent suspended.
    if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0) {
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
    }
    return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
}

}  // namespace velmarune
