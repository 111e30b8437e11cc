#pragma once

#include <filesystem>

#include "foundation/Log.h"
#include "platform/LoginItem.h"

namespace velmarune {

// Launch at login through an XDG autostart entry
// (`$XDG_CONFIG_HOME/autostart/velmarune.desktop`), which every desktop
// that follows the freedesktop rules starts at login.
class XdgAutostartLoginItem : public LoginItem {
  public:
    XdgAutostartLoginItem(std::filesystem::path autostartFolder, std::filesystem::path executable);

    std::optional<std::string> registerLoginItem() override;
    std::optional<std::string> unregisterLoginItem() override;
    bool isRegistered() const override;

    std::filesystem::path entryPath() const { return m_folder / "velmarune.desktop"; }

  private:
    std::filesystem::path m_folder;
    std::filesystem::path m_executable;
    Logger m_log{"LaunchAgentService"};
};

}  // namespace velmarune
