#pragma once

#include <filesystem>

namespace velmarune {

// The folder of the application's run-time files (requirements.json, sounds).
// Installed: <prefix>/share/velmarune beside the executable's bin/. From the
// build tree: the source tree's resources/, whose path is compiled in.
std::filesystem::path resourcesFolder();

// The rule behind resourcesFolder(), with its inputs given.
std::filesystem::path findResourcesFolder(const std::filesystem::path& executable,
                                          const std::filesystem::path& buildTreeFolder);

}  // namespace velmarune
