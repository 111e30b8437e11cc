#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/BackendChoice.h"

namespace velmarune {
namespace {

using Backend = DesktopBackend;

const std::vector<std::string> kWlroots{"wl_seat", "zwlr_data_control_manager_v1",
                                        "zwp_virtual_keyboard_manager_v1",
                                        "zwlr_foreign_toplevel_manager_v1"};

DesktopSession x11() {
    DesktopSession s;
    s.x11Reachable = s.xinput2 = s.xtest = true;
    return s;
}

DesktopSession wayland(std::vector<std::string> globals, std::string compositor = {}) {
    DesktopSession s = x11();  // with XWayland
    s.wayland = s.waylandReachable = s.waylandBackendsBuilt = s.evdevReadable = true;
    s.waylandGlobals = std::move(globals);
    s.compositor = std::move(compositor);
    return s;
}

std::string summary(const std::vector<ServiceChoice>& choices) {
    std::string text;
    for (const auto& choice : choices) {
        text += (text.empty() ? "" : " ") + desktopBackendRawValue(choice.backend);
    }
    return text;
}

TEST(BackendChoice, EachSessionGetsTheBackendsItsDesktopOffers) {
    struct Case {
        const char* name;
        DesktopSession session;
        std::string backends;  // chord, keystroke, clipboard, front window, paste-last
    };
    DesktopSession noDevices = wayland(kWlroots, "sway");
    noDevices.evdevReadable = false;
    DesktopSession notBuilt = wayland(kWlroots, "sway");
    notBuilt.waylandBackendsBuilt = false;
    DesktopSession noXWayland = wayland({});
    noXWayland.x11Reachable = false;
    DesktopSession foreignToplevelOnly = wayland(kWlroots);
    const Case cases[] = {
        {"X11", x11(), "x11 x11 x11 x11 x11"},
        {"sway with readable keyboards", wayland(kWlroots, "sway"),
         "evdev wayland wayland wayland control"},
        {"wlroots without IPC: the window list", foreignToplevelOnly,
         "evdev wayland wayland wayland control"},
        {"sway without input access: XWayland hears the chord for X11 windows", noDevices,
         "xwayland wayland wayland wayland control"},
        {"a build without Wayland backends", notBuilt, "evdev xwayland xwayland xwayland control"},
        {"a compositor without the protocols (portals only)", wayland({"wl_seat"}),
         "evdev xwayland xwayland xwayland control"},
        {"no XWayland either", noXWayland, "evdev none none none control"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(summary(chooseBackends(c.session, PasteShortcut{})), c.backends) << c.name;
    }
    EXPECT_EQ(chooseBackends(x11(), std::nullopt).back().description, "off (Settings)");
}

TEST(BackendChoice, WhatIsMissingComesWithTheLineToAdd) {
    DesktopSession sway = wayland(kWlroots, "sway");
    sway.evdevReadable = false;
    sway.evdevProblem = "Velmarune cannot read the keyboards.";
    auto choices = chooseBackends(sway, PasteShortcut{});
    EXPECT_EQ(choices[0].problem,
              "Velmarune cannot read the keyboards. For sway, add to ~/.config/sway/config: "
              "bindsym F9 exec velmarune ptt press; bindsym --release F9 exec velmarune ptt "
              "release");
    EXPECT_EQ(choices[4].problem,
              "add to ~/.config/sway/config: bindsym Ctrl+Shift+Mod4+v exec velmarune ptt "
              "paste-last");

    const PasteShortcut altSlash{44, ModifierCombo{kModifierOption}};
    EXPECT_EQ(pasteLastBindingLine("Hyprland", altSlash),
              "bind = ALT, slash, exec, velmarune ptt paste-last");
    EXPECT_EQ(pasteLastBindingLine("river", altSlash), std::nullopt);
    choices = chooseBackends(wayland({"wl_seat"}), altSlash);
    EXPECT_EQ(choices[1].problem,
              "the compositor offers no virtual keyboard (sway, Hyprland, river and labwc do): "
              "only X11 windows get the paste; elsewhere press Ctrl+V yourself");
    EXPECT_EQ(choices[4].problem,
              "bind \"velmarune ptt paste-last\" to Alt+/ in your desktop's keyboard shortcuts");

    DesktopSession silent = wayland({});
    silent.waylandReachable = false;
    EXPECT_EQ(chooseBackends(silent, altSlash)[2].problem,
              "the Wayland compositor did not answer: the clipboard goes through XWayland, and "
              "one held by a Wayland window may not come back exactly after a paste");
}

}  // namespace
}  // namespace velmarune
