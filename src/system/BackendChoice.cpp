#include "system/BackendChoice.h"

#include <algorithm>

#include "keys/KeyCodes.h"

namespace velmarune {

namespace {

bool offers(const DesktopSession& session, const char* global) {
    return std::find(session.waylandGlobals.begin(), session.waylandGlobals.end(), global) !=
           session.waylandGlobals.end();
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += (text.empty() ? "" : "; ") + line;
    }
    return text;
}

// Where the compositor's bindings go, and the lines for them.
std::string bindingAdvice(const std::string& compositor, std::vector<std::string> lines,
                          const std::string& otherwise) {
    if (lines.empty()) {
        return otherwise;
    }
    const std::string file =
        compositor == "Hyprland" ? "~/.config/hypr/hyprland.conf" : "~/.config/sway/config";
    return "add to " + file + ": " + joined(lines);
}

ServiceChoice x11Choice(DesktopService service, bool available, const char* description,
                        const char* missing) {
    if (available) {
        return {service, DesktopBackend::x11, description, {}};
    }
    return {service, DesktopBackend::none, "none", missing};
}

std::vector<ServiceChoice> chooseForX11(const DesktopSession& s,
                                        const std::optional<PasteShortcut>& pasteLast) {
    if (!s.x11Reachable) {
        // Said once: the other services have the same reason.
        std::vector<ServiceChoice> none;
        for (auto service : {DesktopService::chordListener, DesktopService::pasteKeystroke,
                             DesktopService::clipboard, DesktopService::frontWindow,
                             DesktopService::pasteLastHotKey}) {
            none.push_back({service, DesktopBackend::none, "none", {}});
        }
        none.front().problem =
            "no graphical session here (neither WAYLAND_DISPLAY nor a reachable DISPLAY): run "
            "Velmarune inside your desktop session";
        return none;
    }
    return {
        x11Choice(DesktopService::chordListener, s.xinput2, "X11 (XInput 2 raw keys)",
                  "the X server lacks XInput 2, so the chord cannot be heard: bind \"velmarune "
                  "ptt press\" and \"velmarune ptt release\" to a key in your desktop's shortcuts"),
        x11Choice(DesktopService::pasteKeystroke, s.xtest, "X11 (XTEST)",
                  "the X server lacks XTEST, so nothing can be pasted: dictations stay on the "
                  "clipboard for Ctrl+V"),
        x11Choice(DesktopService::clipboard, true, "X11 (CLIPBOARD selection)", ""),
        x11Choice(DesktopService::frontWindow, true, "X11 (_NET_ACTIVE_WINDOW)", ""),
        pasteLast ? x11Choice(DesktopService::pasteLastHotKey, true, "X11 (key grab)", "")
                  : ServiceChoice{DesktopService::pasteLastHotKey,
                                  DesktopBackend::none,
                                  "off (Settings)",
                                  {}},
    };
}

std::vector<ServiceChoice> chooseForWayland(const DesktopSession& s,
                                            const std::optional<PasteShortcut>& pasteLast) {
    const bool built = s.waylandBackendsBuilt;
    const bool xwayland = s.x11Reachable;
    std::vector<ServiceChoice> choices;

    ServiceChoice chord{DesktopService::chordListener,
                        DesktopBackend::evdev,
                        "evdev (every keyboard, listen-only)",
                        {}};
    if (!s.evdevReadable) {
        // The evdev explanation already says to bind `velmarune ptt`; for a
        // compositor we know, here are the lines.
        const std::vector<std::string> lines = pushToTalkBindingLines(s.compositor);
        chord.problem = s.evdevProblem;
        if (!lines.empty()) {
            chord.problem += " For " + s.compositor + ", " + bindingAdvice(s.compositor, lines, "");
        }
        if (xwayland && s.xinput2) {
            chord.backend = DesktopBackend::xwayland;
            chord.description = "XWayland (hears the chord only while an X11 window has the focus)";
        } else {
            chord.backend = DesktopBackend::control;
            chord.description = "push-to-talk control only (velmarune ptt)";
        }
    }
    choices.push_back(chord);

    const std::string notBuilt = "this build of Velmarune has no Wayland backends yet";
    auto waylandOr = [&](DesktopService service, bool offered, std::string description,
                         const std::string& missingGlobal, std::string xwaylandDescription,
                         const std::string& consequence) {
        if (built && offered) {
            return ServiceChoice{service, DesktopBackend::wayland, std::move(description), {}};
        }
        const std::string why = !built ? notBuilt
                                : !s.waylandReachable
                                    ? std::string("the Wayland compositor did not answer")
                                    : "the compositor offers no " + missingGlobal +
                                          " (sway, Hyprland, river and labwc do)";
        if (xwayland) {
            return ServiceChoice{service, DesktopBackend::xwayland, std::move(xwaylandDescription),
                                 why + ": " + consequence};
        }
        return ServiceChoice{service, DesktopBackend::none, "none", why + ": " + consequence};
    };
    choices.push_back(waylandOr(DesktopService::pasteKeystroke,
                                offers(s, "zwp_virtual_keyboard_manager_v1"),
                                "Wayland virtual keyboard", "virtual keyboard", "XWayland (XTEST)",
                                "only X11 windows get the paste; elsewhere press Ctrl+V yourself"));
    const bool extData = offers(s, "ext_data_control_manager_v1");
    choices.push_back(waylandOr(
        DesktopService::clipboard, extData || offers(s, "zwlr_data_control_manager_v1"),
        extData ? "Wayland data-control (ext)" : "Wayland data-control (wlr)", "data-control",
        "XWayland (CLIPBOARD selection)",
        "the clipboard goes through XWayland, and one held by a Wayland window may not come "
        "back exactly after a paste"));
    const bool ipc = s.compositor == "sway" || s.compositor == "Hyprland";
    choices.push_back(waylandOr(
        DesktopService::frontWindow, ipc || offers(s, "zwlr_foreign_toplevel_manager_v1"),
        ipc ? s.compositor + " IPC" : "Wayland foreign-toplevel", "window list",
        "XWayland (X11 windows only)",
        "Velmarune cannot tell Wayland windows apart, so it cannot hold back a dictation when "
        "the window changes"));

    if (!pasteLast) {
        choices.push_back(
            {DesktopService::pasteLastHotKey, DesktopBackend::none, "off (Settings)", {}});
    } else {
        std::vector<std::string> lines;
        if (auto line = pasteLastBindingLine(s.compositor, *pasteLast)) {
            lines.push_back(*line);
        }
        choices.push_back(
            {DesktopService::pasteLastHotKey, DesktopBackend::control,
             "the compositor's key binding (velmarune ptt paste-last)",
             bindingAdvice(s.compositor, lines,
                           "bind \"velmarune ptt paste-last\" to " + pasteLast->display() +
                               " in your desktop's keyboard shortcuts")});
    }
    return choices;
}

std::string bindingModifiers(ModifierCombo combo, bool hyprland) {
    const std::pair<uint32_t, const char*> names[] = {
        {kModifierControl, hyprland ? "CTRL" : "Ctrl"},
        {kModifierShift, hyprland ? "SHIFT" : "Shift"},
        {kModifierOption, hyprland ? "ALT" : "Mod1"},
        {kModifierCommand, hyprland ? "SUPER" : "Mod4"}};
    std::string text;
    for (const auto& [flag, name] : names) {
        if (combo.rawValue & flag) {
            text += (text.empty() ? "" : (hyprland ? " " : "+")) + std::string(name);
        }
    }
    return text;
}

}  // namespace

std::vector<ServiceChoice> chooseBackends(const DesktopSession& session,
                                          const std::optional<PasteShortcut>& pasteLast) {
    return session.wayland ? chooseForWayland(session, pasteLast)
                           : chooseForX11(session, pasteLast);
}

std::string desktopServiceName(DesktopService service) {
    switch (service) {
        case DesktopService::chordListener:
            return "chord listener";
        case DesktopService::pasteKeystroke:
            return "paste keystroke";
        case DesktopService::clipboard:
            return "clipboard";
        case DesktopService::frontWindow:
            return "front window";
        case DesktopService::pasteLastHotKey:
            return "paste-last key";
    }
    return "?";
}

std::string desktopBackendRawValue(DesktopBackend backend) {
    switch (backend) {
        case DesktopBackend::x11:
            return "x11";
        case DesktopBackend::xwayland:
            return "xwayland";
        case DesktopBackend::evdev:
            return "evdev";
        case DesktopBackend::wayland:
            return "wayland";
        case DesktopBackend::control:
            return "control";
        case DesktopBackend::none:
            break;
    }
    return "none";
}

ServiceChoice choiceFor(const std::vector<ServiceChoice>& choices, DesktopService service) {
    for (const ServiceChoice& choice : choices) {
        if (choice.service == service) {
            return choice;
        }
    }
    return {service, DesktopBackend::none, "none", {}};
}

std::vector<std::string> pushToTalkBindingLines(const std::string& compositor) {
    if (compositor == "Hyprland") {
        return {"bind = , F9, exec, velmarune ptt press",
                "bindr = , F9, exec, velmarune ptt release"};
    }
    if (compositor == "sway") {
        return {"bindsym F9 exec velmarune ptt press",
                "bindsym --release F9 exec velmarune ptt release"};
    }
    return {};
}

std::optional<std::string> pasteLastBindingLine(const std::string& compositor,
                                                const PasteShortcut& shortcut) {
    const bool hyprland = compositor == "Hyprland";
    const auto key = keysymName(shortcut.keyCode);
    if ((!hyprland && compositor != "sway") || !key) {
        return std::nullopt;
    }
    const std::string modifiers = bindingModifiers(shortcut.modifiers, hyprland);
    if (hyprland) {
        return "bind = " + modifiers + ", " + *key + ", exec, velmarune ptt paste-last";
    }
    return "bindsym " + modifiers + (modifiers.empty() ? "" : "+") + *key +
           " exec velmarune ptt paste-last";
}

}  // namespace velmarune
