#include "platform/linux/LinuxDesktopShortcutSource.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace velmarune {

namespace {
std::filesystem::path defaultConfigHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return xdg;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".config";
    return {};
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (!path)
        return false;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && access((std::filesystem::path(dir) / program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

// Runs a command (bounded by `timeout`) and returns its output when it exits 0.
std::optional<std::string> output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}
}  // namespace

LinuxDesktopShortcutSource::LinuxDesktopShortcutSource()
    : LinuxDesktopShortcutSource(
          defaultConfigHome(),
          {"org.gnome.desktop.wm.keybindings", "org.gnome.settings-daemon.plugins.media-keys",
           "org.gnome.shell.keybindings", "org.gnome.mutter.keybindings",
           "org.gnome.mutter.wayland.keybindings"}) {}

LinuxDesktopShortcutSource::LinuxDesktopShortcutSource(std::filesystem::path configHome,
                                                       std::vector<std::string> schemas)
    : m_configHome(std::move(configHome)), m_schemas(std::move(schemas)) {}

std::optional<DesktopShortcutText> LinuxDesktopShortcutSource::read() {
    DesktopShortcutText text;
    bool any = false;
    if (!m_schemas.empty() && onPath("gsettings")) {
        for (const auto& schema : m_schemas) {
            // Schema names are our own constants; a missing schema exits 1.
            if (auto listing =
                    output("timeout 3 gsettings list-recursively '" + schema + "' 2>/dev/null")) {
                text.gnomeListings.push_back(std::move(*listing));
                any = true;
            }
        }
    }
    if (!m_configHome.empty()) {
        std::ifstream in(m_configHome / "kglobalshortcutsrc", std::ios::binary);
        if (in) {
            std::stringstream contents;
            contents << in.rdbuf();
            text.kdeConfig = contents.str();
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    return text;
}

}  // namespace velmarune
