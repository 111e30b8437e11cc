#include "foundation/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace velmarune {

Paths Paths::fromEnvironment(const std::function<std::optional<std::string>(const char*)>& getenv) {
    auto read = [&](const char* name) -> std::optional<std::string> {
        std::optional<std::string> value;
        if (getenv) {
            value = getenv(name);
        } else if (const char* raw = std::getenv(name)) {
            value = std::string(raw);
        }
        if (value && value->empty()) {
            value.reset();
        }
        return value;
    };
    Paths paths;
    if (auto home = read("HOME")) {
        paths.home = *home;
    } else if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
        paths.home = entry->pw_dir;
    } else {
        paths.home = "/tmp";
    }
    // The XDG rules ignore relative paths.
    auto base = [&](const char* name, const char* fallback) {
        auto value = read(name);
        if (value && std::filesystem::path(*value).is_absolute()) {
            return std::filesystem::path(*value);
        }
        return paths.home / fallback;
    };
    paths.configHome = base("XDG_CONFIG_HOME", ".config");
    paths.dataHome = base("XDG_DATA_HOME", ".local/share");
    paths.stateHome = base("XDG_STATE_HOME", ".local/state");
    paths.cacheHome = base("XDG_CACHE_HOME", ".cache");
    return paths;
}

Paths Paths::underRoot(const std::filesystem::path& root) {
    Paths paths;
    paths.home = root / "home";
    paths.configHome = root / "config";
    paths.dataHome = root / "data";
    paths.stateHome = root / "state";
    paths.cacheHome = root / "cache";
    return paths;
}

}  // namespace velmarune
