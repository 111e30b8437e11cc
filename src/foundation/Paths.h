#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace velmarune {

// The XDG base directories, resolved once from the environment (or given
// directly by tests).
struct Paths {
    std::filesystem::path home;
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME or ~/.config
    std::filesystem::path dataHome;    // $XDG_DATA_HOME or ~/.local/share
    std::filesystem::path stateHome;   // $XDG_STATE_HOME or ~/.local/state
    std::filesystem::path cacheHome;   // $XDG_CACHE_HOME or ~/.cache

    // Reads the environment; `getenv` is replaceable for tests.
    static Paths fromEnvironment(
        const std::function<std::optional<std::string>(const char*)>& getenv = {});
    // Every folder under one root, for tests.
    static Paths underRoot(const std::filesystem::path& root);

    std::filesystem::path settingsFile() const { return configHome / "velmarune" / "settings.json"; }
    std::filesystem::path applicationSupport() const { return dataHome / "Velmarune"; }
    std::filesystem::path modelsFolder() const { return applicationSupport() / "Models"; }
    std::filesystem::path logsFolder() const { return stateHome / "Velmarune"; }
    std::filesystem::path autostartFolder() const { return configHome / "autostart"; }
};

}  // namespace velmarune
