#pragma once

#include <memory>
#include <string>

#include "platform/KeyboardMonitor.h"

namespace velmarune {

class X11EventLoop;
class X11Keyboard;

// Listens to XInput2 raw key events on the root window. It grabs nothing, so
// every key still reaches the focused window as if we were not there. Raw
// events carry no modifier state: the held modifiers are tracked from the
// key codes themselves, read through the keymap the keyboard state keeps.
//
// In the application it shares the output's X connection and loop thread.
// The work on that loop waits for the X server only: the clipboard reads
// other clients on a connection of its own, and its one wait for an event
// hands the others on, so a key is never held up behind a stalled client.
class X11KeyboardMonitor : public KeyboardMonitor {
  public:
    X11KeyboardMonitor();
    ~X11KeyboardMonitor() override;
    X11KeyboardMonitor(const X11KeyboardMonitor&) = delete;
    X11KeyboardMonitor& operator=(const X11KeyboardMonitor&) = delete;

    // Selects raw key events on `loop` (connected, not started: its owner
    // starts it), with the modifier keys as `keyboard`, attached to the same
    // loop, maps them. False without XInput 2.
    bool attach(std::shared_ptr<X11EventLoop> loop, const X11Keyboard& keyboard,
                std::string* error = nullptr);

    // Without attach(), the first start connects to $DISPLAY on a loop and a
    // keyboard state of its own. False without a server or XInput 2.
    bool start(Handlers handlers) override;
    void stop() override;

    struct State;

  private:
    std::shared_ptr<State> m_state;
    std::shared_ptr<X11EventLoop> m_loop;
    std::unique_ptr<X11Keyboard> m_ownKeyboard;
    bool m_ownLoop = false;
};

}  // namespace velmarune
