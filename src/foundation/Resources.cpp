#include "foundation/Resources.h"

#include <system_error>

#ifndef VELMARUNE_BUILD_RESOURCES_DIR
#define VELMARUNE_BUILD_RESOURCES_DIR ""
#endif

namespace velmarune {

std::filesystem::path findResourcesFolder(const std::filesystem::path& executable,
                                          const std::filesystem::path& buildTreeFolder) {
    std::error_code ec;
    if (!executable.empty()) {
        // An installed copy wins over the source tree it was once built from.
        const auto installed = executable.parent_path().parent_path() / "share" / "velmarune";
        if (std::filesystem::is_directory(installed, ec)) {
            return installed;
        }
    }
    return buildTreeFolder;
}

std::filesystem::path resourcesFolder() {
    std::error_code ec;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    return findResourcesFolder(ec ? std::filesystem::path() : executable,
                               VELMARUNE_BUILD_RESOURCES_DIR);
}

}  // namespace velmarune
