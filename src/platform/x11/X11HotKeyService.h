#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/HotKeyService.h"

struct xcb_connection_t;

namespace velmarune {

// The global hot key as a passive key grab on the root window, on its own X
// connection; a thread reads the grabbed presses. The grab is made for every
// Caps Lock / Num Lock combination so that the lock keys do not disable it.
class X11HotKeyService : public HotKeyService {
  public:
    // Statuses besides the X error codes (10 = BadAccess): no X server (or
    // the connection was lost), and a key the keyboard layout cannot type.
    static constexpr int kStatusNoDisplay = -1;
    static constexpr int kStatusNoSuchKey = -2;

    X11HotKeyService() = default;
    ~X11HotKeyService() override;
    X11HotKeyService(const X11HotKeyService&) = delete;
    X11HotKeyService& operator=(const X11HotKeyService&) = delete;

    void setPressedHandler(std::function<void()> pressed) override;
    int registerHotKey(uint16_t keyCode, ModifierCombo modifiers) override;
    void unregisterHotKey() override;

  private:
    bool connect();
    void run();
    void ungrabLocked();

    std::mutex m_mutex;
    xcb_connection_t* m_connection = nullptr;
    uint32_t m_root = 0;
    int m_wakeFd = -1;
    std::thread m_thread;
    std::function<void()> m_pressed;
    // The active grab: key code and core modifier masks, one per lock variant.
    uint8_t m_grabbedKeycode = 0;
    uint16_t m_grabbedModifiers = 0;
    uint16_t m_lockMasks = 0;  // Caps Lock | Num Lock
    std::vector<uint16_t> m_grabbedVariants;
    // Set from a press until its release, so key repeat presses only once.
    bool m_down = false;
};

}  // namespace velmarune
