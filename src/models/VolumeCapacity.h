#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace velmarune {

// Bytes an unprivileged user may still write on the volume holding `path`,
// or nothing when the file system does not say.
std::optional<int64_t> volumeAvailableCapacity(const std::filesystem::path& path);

}  // namespace velmarune
