#include "XTestKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace velmarune::testing {

XTestKeyboard::XTestKeyboard() : m_display(XOpenDisplay(nullptr)) {}

XTestKeyboard::~XTestKeyboard() {
    if (m_display)
        XCloseDisplay(m_display);
}

unsigned XTestKeyboard::keycode(const std::string& keysymName) const {
    return XKeysymToKeycode(m_display, XStringToKeysym(keysymName.c_str()));
}

void XTestKeyboard::send(const std::string& keysymName, bool down) {
    XTestFakeKeyEvent(m_display, keycode(keysymName), down ? True : False, CurrentTime);
    XSync(m_display, False);
}

void XTestKeyboard::tap(const std::vector<std::string>& modifiers, const std::string& key) {
    for (const auto& m : modifiers) press(m);
    press(key);
    release(key);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) release(*it);
}

ForeignGrab::ForeignGrab(const std::string& keysymName) : m_display(XOpenDisplay(nullptr)) {
    if (!m_display)
        return;
    const Window root = DefaultRootWindow(m_display);
    if (keysymName.empty()) {
        m_grabbed = XGrabKeyboard(m_display, root, False, GrabModeAsync, GrabModeAsync,
                                  CurrentTime) == GrabSuccess;
    } else {
        XGrabKey(m_display, XKeysymToKeycode(m_display, XStringToKeysym(keysymName.c_str())),
                 ControlMask | ShiftMask | Mod4Mask, root, True, GrabModeAsync, GrabModeAsync);
        m_grabbed = true;
    }
    XSync(m_display, False);
}

ForeignGrab::~ForeignGrab() {
    if (m_display)
        XCloseDisplay(m_display);
}

}  // namespace velmarune::testing
