#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "foundation/Log.h"
#include "platform/LoginItem.h"

namespace velmarune {

// Launch at login through an XDG autostart entry
// (`$XDG_CONFIG_HOME/autostart/velmarune.desktop`), which every desktop
// that follows the freedesktop rules starts at login.
class XdgAutostartLoginItem : public LoginItem {
  public:
    // `installed`: the executable is an installed copy rather than one in a
    // build folder; an installed copy takes over an entry that names another.
    XdgAutostartLoginItem(std::filesystem::path autostartFolder, std::filesystem::path executable,
                          bool installed);

    std::optional<std::string> registerLoginItem() override;
    std::optional<std::string> unregisterLoginItem() override;
    // False too when the user switched the entry off in the desktop's settings.
    bool isRegistered() const override;

    // Called at every start: an entry that names an executable that is gone
    // (moved, uninstalled, an older build folder), or any other executable
    // when this one is installed, is rewritten for this executable in place;
    // one that names this executable is brought up to date. The user's
    // choice to switch it off is kept. No entry, nothing written.
    void refreshRegistration();

    std::filesystem::path entryPath() const { return m_folder / "velmarune.desktop"; }

  private:
    std::string entryText(bool enabled) const;
    std::optional<std::string> write(const std::string& text);

    std::filesystem::path m_folder;
    std::filesystem::path m_executable;
    bool m_installed;
    Logger m_log{"LaunchAgentService"};
};

// The desktop-entry form of a command line of one argument: quoted, with the
// characters the format reserves escaped. Exposed for tests.
std::string desktopExecQuote(const std::string& argument);
// The program an entry's Exec value runs (its first argument, unquoted).
std::string desktopExecProgram(const std::string& execValue);

}  // namespace velmarune
