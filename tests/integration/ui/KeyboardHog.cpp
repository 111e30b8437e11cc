#include "KeyboardHog.h"

#include <X11/Xlib.h>

namespace velmarune::testing {

KeyboardHog::KeyboardHog() : m_display(XOpenDisplay(nullptr)) {
    if (m_display) {
        m_grabbed = XGrabKeyboard(m_display, DefaultRootWindow(m_display), False, GrabModeAsync,
                                  GrabModeAsync, CurrentTime) == GrabSuccess;
        XSync(m_display, False);
    }
}

KeyboardHog::~KeyboardHog() {
    if (m_display)
        XCloseDisplay(m_display);
}

}  // namespace velmarune::testing
