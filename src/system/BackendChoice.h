#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hotkeys/PasteShortcut.h"

namespace velmarune {

// What the graphical session offers, as probed at start-up (or by the check).
struct DesktopSession {
    bool wayland = false;                     // WAYLAND_DISPLAY is set
    bool waylandReachable = false;            // its compositor answered
    std::vector<std::string> waylandGlobals;  // the interfaces it advertises
    std::string compositor;                   // "sway" or "Hyprland" when its IPC is there
    bool x11Reachable = false;                // DISPLAY answered (an X server or XWayland)
    bool xinput2 = false;
    bool xtest = false;
    bool evdevReadable = false;         // the keyboards can be read (or none is there yet)
    std::string evdevProblem;           // why not, with the fix
    bool waylandBackendsBuilt = false;  // this program has Wayland backends plugged in
};

// The services dictation needs from the desktop.
enum class DesktopService {
    chordListener,
    pasteKeystroke,
    clipboard,
    frontWindow,
    pasteLastHotKey
};

// Who serves each.
enum class DesktopBackend { x11, xwayland, evdev, wayland, control, none };

struct ServiceChoice {
    DesktopService service;
    DesktopBackend backend;
    std::string description;  // the backend in words ("X11 (XInput 2)")
    std::string problem;      // what is missing and the fix; empty when fully served
};

// Picks a backend for every service: in a Wayland session the Wayland
// backends for what the compositor offers and evdev for the keys, falling
// back to XWayland (X11 windows only) or the push-to-talk control; X11
// otherwise. `pasteLast` is the paste-last shortcut (absent: off).
std::vector<ServiceChoice> chooseBackends(const DesktopSession& session,
                                          const std::optional<PasteShortcut>& pasteLast);

// The choice for `service` among `choices`; none chosen when it is absent.
ServiceChoice choiceFor(const std::vector<ServiceChoice>& choices, DesktopService service);

// The service's name as the log and the check show it ("chord listener").
std::string desktopServiceName(DesktopService service);
// The backend as `velmarune check --json` writes it ("evdev").
std::string desktopBackendRawValue(DesktopBackend backend);

// The lines to add to the compositor's configuration ("sway" or
// "Hyprland") so that its own key bindings drive Velmarune: push-to-talk on
// F9, and the paste-last shortcut. Empty / absent for another compositor.
std::vector<std::string> pushToTalkBindingLines(const std::string& compositor);
std::optional<std::string> pasteLastBindingLine(const std::string& compositor,
                                                const PasteShortcut& shortcut);

}  // namespace velmarune
