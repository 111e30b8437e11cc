#include "models/VolumeCapacity.h"

#include <sys/statvfs.h>

#include <limits>

namespace velmarune {

std::optional<int64_t> volumeAvailableCapacity(const std::filesystem::path& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    const unsigned long long blockBytes = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    const unsigned long long blocks = info.f_bavail;
    if (blockBytes != 0 &&
        blocks >
            static_cast<unsigned long long>(std::numeric_limits<int64_t>::max()) / blockBytes) {
        return std::numeric_limits<int64_t>::max();
    }
    return static_cast<int64_t>(blocks * blockBytes);
}

}  // namespace velmarune
