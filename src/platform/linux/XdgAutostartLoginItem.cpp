#include "platform/linux/XdgAutostartLoginItem.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace velmarune {

XdgAutostartLoginItem::XdgAutostartLoginItem(std::filesystem::path autostartFolder,
                                             std::filesystem::path executable)
    : m_folder(std::move(autostartFolder)), m_executable(std::move(executable)) {}

std::optional<std::string> XdgAutostartLoginItem::registerLoginItem() {
    std::error_code ec;
    std::filesystem::create_directories(m_folder, ec);
    const auto temp = entryPath().string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Velmarune\n"
               "Comment=Push-to-talk dictation\n"
               "Exec=\""
            << m_executable.string()
            << "\"\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n";
        if (!out.flush()) {
            const std::string error = std::strerror(errno);
            m_log.error("Register failed: %{public}s", error);
            return error;
        }
    }
    std::filesystem::rename(temp, entryPath(), ec);
    if (ec) {
        m_log.error("Register failed: %{public}s", ec.message());
        return ec.message();
    }
    m_log.info("Login item registered");
    return std::nullopt;
}

std::optional<std::string> XdgAutostartLoginItem::unregisterLoginItem() {
    std::error_code ec;
    std::filesystem::remove(entryPath(), ec);
    if (ec) {
        m_log.error("Unregister failed: %{public}s", ec.message());
        return ec.message();
    }
    m_log.info("Login item unregistered");
    return std::nullopt;
}

bool XdgAutostartLoginItem::isRegistered() const {
    std::error_code ec;
    return std::filesystem::exists(entryPath(), ec);
}

}  // namespace velmarune
