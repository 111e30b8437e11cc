#include "XTestKeyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <chrono>

namespace velmarune::testing {

namespace {
using Clock = std::chrono::steady_clock;

// Waits for an event matching `type` on `display` until `deadline`.
bool nextEvent(Display* display, int type, XEvent& out, Clock::time_point deadline) {
    while (true) {
        while (XPending(display) > 0) {
            XNextEvent(display, &out);
            if (out.type == type)
                return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left));
    }
}
}  // namespace

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

KeyWindow::KeyWindow() : m_display(XOpenDisplay(nullptr)) {
    if (!m_display)
        return;
    const int screen = DefaultScreen(m_display);
    m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 10, 10, 200, 100, 0, 0,
                                   WhitePixel(m_display, screen));
    XSelectInput(m_display, m_window, KeyPressMask | StructureNotifyMask | FocusChangeMask);
    XMapRaised(m_display, m_window);
    XEvent event;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    if (!nextEvent(m_display, MapNotify, event, deadline))
        return;
    XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
    XSync(m_display, False);
    m_mapped = nextEvent(m_display, FocusIn, event, deadline);
}

KeyWindow::~KeyWindow() {
    if (!m_display)
        return;
    if (m_window)
        XDestroyWindow(m_display, m_window);
    XCloseDisplay(m_display);
}

std::optional<KeyWindow::Press> KeyWindow::nextPress(double timeoutSeconds) {
    XEvent event;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    if (!nextEvent(m_display, KeyPress, event, deadline))
        return std::nullopt;
    return Press{event.xkey.keycode, event.xkey.state};
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
