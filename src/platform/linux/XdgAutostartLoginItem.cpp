#include "platform/linux/XdgAutostartLoginItem.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace velmarune {

namespace {

struct EntryFields {
    std::string exec;
    bool enabled = true;
};

EntryFields readFields(const std::string& text) {
    EntryFields fields;
    std::istringstream lines(text);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        auto trim = [](std::string s) {
            const auto first = s.find_first_not_of(" \t");
            const auto last = s.find_last_not_of(" \t");
            return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
        };
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        if (key == "Exec") {
            fields.exec = desktopExecProgram(value);
        } else if ((key == "X-GNOME-Autostart-enabled" && value == "false") ||
                   (key == "Hidden" && value == "true")) {
            fields.enabled = false;
        }
    }
    return fields;
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string desktopExecQuote(const std::string& argument) {
    // Two levels: inside the quotes `"`, '`', '$' and '\' take a backslash;
    // then the value as a whole doubles every backslash and every '%'.
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$') {
            quoted += "\\\\";
            quoted += c;
        } else if (c == '\\') {
            quoted += "\\\\\\\\";
        } else if (c == '%') {
            quoted += "%%";
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string desktopExecProgram(const std::string& execValue) {
    // Undo the value's escapes first, then the quoting of the first argument.
    std::string value;
    for (size_t i = 0; i < execValue.size(); ++i) {
        if (execValue[i] == '\\' && i + 1 < execValue.size()) {
            const char next = execValue[++i];
            value += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            value += execValue[i];
        }
    }
    std::string program;
    size_t i = 0;
    const bool quoted = !value.empty() && value.front() == '"';
    if (quoted) {
        for (i = 1; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) {
                ++i;
            }
            program += value[i];
        }
    } else {
        for (; i < value.size() && value[i] != ' '; ++i) {
            program += value[i];
        }
    }
    std::string unpercented;
    for (size_t j = 0; j < program.size(); ++j) {
        unpercented += program[j];
        if (program[j] == '%' && j + 1 < program.size() && program[j + 1] == '%') {
            ++j;
        }
    }
    return unpercented;
}

XdgAutostartLoginItem::XdgAutostartLoginItem(std::filesystem::path autostartFolder,
                                             std::filesystem::path executable, bool installed)
    : m_folder(std::move(autostartFolder)),
      m_executable(std::move(executable)),
      m_installed(installed) {}

std::string XdgAutostartLoginItem::entryText(bool enabled) const {
    std::string escapedPath;
    for (char c : m_executable.string()) {
        escapedPath += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Velmarune\n"
        "Comment=Push-to-talk dictation\n"
        "Icon=com.quorin.velmarune\n"
        "Exec=" +
        desktopExecQuote(m_executable.string()) +
        "\n"
        // A session skips the entry once the executable is gone (the package
        // was removed) instead of failing to start it at every login.
        "TryExec=" +
        escapedPath +
        "\n"
        "Terminal=false\n"
        "StartupNotify=false\n"
        "X-GNOME-Autostart-enabled=" +
        (enabled ? "true" : "false") + "\n";
    if (!enabled) {
        text += "Hidden=true\n";
    }
    return text;
}

std::optional<std::string> XdgAutostartLoginItem::write(const std::string& text) {
    if (m_executable.string().find('\n') != std::string::npos) {
        return std::string("the program's path contains a line break");
    }
    std::error_code ec;
    std::filesystem::create_directories(m_folder, ec);
    const auto temp = entryPath().string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << text;
        if (!out.flush()) {
            return std::string(std::strerror(errno));
        }
    }
    std::filesystem::rename(temp, entryPath(), ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return ec.message();
    }
    return std::nullopt;
}

std::optional<std::string> XdgAutostartLoginItem::registerLoginItem() {
    if (auto error = write(entryText(true))) {
        m_log.error("Register failed: %{public}s", *error);
        return error;
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
    const auto text = readFile(entryPath());
    return text && readFields(*text).enabled;
}

void XdgAutostartLoginItem::refreshRegistration() {
    const auto text = readFile(entryPath());
    if (!text) {
        return;
    }
    const EntryFields fields = readFields(*text);
    const std::string wanted = entryText(fields.enabled);
    if (*text == wanted) {
        return;
    }
    std::error_code ec;
    const bool ours = fields.exec == m_executable.string();
    const bool stale = fields.exec.empty() || !std::filesystem::exists(fields.exec, ec);
    if (!ours && !stale && !m_installed) {
        // A build-folder binary leaves an installed (or other live) copy's entry alone.
        return;
    }
    if (auto error = write(wanted)) {
        m_log.error("Could not update the login item: %{public}s", *error);
        return;
    }
    m_log.info("Login item now starts %{public}s", m_executable.string());
}

}  // namespace velmarune
