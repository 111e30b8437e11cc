#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace velmarune {

// The block size a file is hashed in: large enough that system-call overhead
// vanishes, small enough that a 3 GB model never sits in memory.
inline constexpr size_t kDigestBlockBytes = 1048576;

// SHA-256 of a whole file as 64 lower-case hexadecimal digits, streamed in
// 1 MiB blocks. `shouldStop` is asked between blocks; when it answers true
// the work ends with an Error. Opening or reading failures throw Error.
std::string sha256HexOfFile(const std::filesystem::path& file,
                            const std::function<bool()>& shouldStop = {});

}  // namespace velmarune
