#include "app/FrontChange.h"

namespace velmarune {

bool frontChanged(const std::optional<std::string>& atRelease, uint64_t activationsAtRelease,
                  const std::optional<std::string>& now, uint64_t activationsNow) {
    if (!atRelease || !now) {
        return false;
    }
    if (*atRelease == kUnknownFrontIdentity || *now == kUnknownFrontIdentity) {
        return activationsNow != activationsAtRelease;
    }
    return *now != *atRelease;
}

}  // namespace velmarune
