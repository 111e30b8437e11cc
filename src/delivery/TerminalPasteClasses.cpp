#include "delivery/TerminalPasteClasses.h"

#include <algorithm>
#include <cctype>

namespace velmarune {

std::vector<std::string> defaultTerminalPasteClasses() {
    return {"xterm",
            "uxterm",
            "gnome-terminal",
            "gnome-terminal-server",
            "kgx",
            "konsole",
            "xfce4-terminal",
            "mate-terminal",
            "lxterminal",
            "qterminal",
            "terminator",
            "tilix",
            "alacritty",
            "kitty",
            "foot",
            "urxvt",
            "rxvt",
            "st-256color",
            "wezterm",
            "org.wezfurlong.wezterm",
            "sakura",
            "terminology",
            "guake",
            "tilda",
            "yakuake",
            "org.gnome.console",
            "org.gnome.terminal",
            "org.kde.konsole"};
}

std::vector<std::string> terminalPasteClasses(const UserDefaults& defaults) {
    const auto stored = defaults.stringValue(kTerminalPasteClassesKey);
    if (!stored) {
        return defaultTerminalPasteClasses();
    }
    std::vector<std::string> classes;
    std::string name;
    for (char c : *stored + ",") {
        if (c == ',' || c == ' ' || c == '\t' || c == '\n') {
            if (!name.empty()) {
                classes.push_back(std::move(name));
                name.clear();
            }
        } else {
            name += c;
        }
    }
    return classes.empty() ? defaultTerminalPasteClasses() : classes;
}

PasteChord pasteChordFor(const std::vector<std::string>& classNames,
                         const std::vector<std::string>& terminalClasses) {
    auto same = [](const std::string& a, const std::string& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) ==
                   std::tolower(static_cast<unsigned char>(y));
        });
    };
    for (const auto& name : classNames) {
        for (const auto& terminal : terminalClasses) {
            if (same(name, terminal)) {
                return PasteChord::controlShiftV;
            }
        }
    }
    return PasteChord::controlV;
}

}  // namespace velmarune
