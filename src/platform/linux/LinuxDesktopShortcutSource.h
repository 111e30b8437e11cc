#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/DesktopShortcutSource.h"

namespace velmarune {

// GNOME's keybinding schemas through `gsettings` (when installed) and KDE's
// kglobalshortcutsrc in the user's configuration folder.
class LinuxDesktopShortcutSource : public DesktopShortcutSource {
  public:
    LinuxDesktopShortcutSource();
    // For tests: another configuration folder and schema list.
    LinuxDesktopShortcutSource(std::filesystem::path configHome, std::vector<std::string> schemas);

    std::optional<DesktopShortcutText> read() override;

  private:
    std::filesystem::path m_configHome;
    std::vector<std::string> m_schemas;
};

}  // namespace velmarune
