#pragma once

#include <bitset>
#include <memory>
#include <thread>

#include "platform/KeyboardMonitor.h"

struct xcb_connection_t;

namespace velmarune {

class X11Keymap;

// Listens to XInput2 raw key events on the root window, on its own X
// connection and thread. It grabs nothing, so every key still reaches the
// focused window as if we were not there. Raw events carry no modifier state:
// the held modifiers are tracked from the key codes themselves.
class X11KeyboardMonitor : public KeyboardMonitor {
  public:
    X11KeyboardMonitor() = default;
    ~X11KeyboardMonitor() override;
    X11KeyboardMonitor(const X11KeyboardMonitor&) = delete;
    X11KeyboardMonitor& operator=(const X11KeyboardMonitor&) = delete;

    // Connects to $DISPLAY; false without a server or XInput 2.
    bool start(Handlers handlers) override;
    void stop() override;

  private:
    void run(Handlers handlers, std::unique_ptr<X11Keymap> keymap, std::bitset<256> held);

    xcb_connection_t* m_connection = nullptr;
    uint8_t m_xinputOpcode = 0;
    int m_wakeFd = -1;
    std::thread m_thread;
};

}  // namespace velmarune
