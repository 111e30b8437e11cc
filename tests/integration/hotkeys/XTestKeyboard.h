#pragma once

#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace velmarune::testing {

// Injects exact key sequences through XTest on its own connection; each call
// returns once the server has processed the event.
class XTestKeyboard {
  public:
    XTestKeyboard();
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    bool ok() const { return m_display != nullptr; }
    void press(const std::string& keysymName) { send(keysymName, true); }
    void release(const std::string& keysymName) { send(keysymName, false); }
    unsigned keycode(const std::string& keysymName) const;
    // Presses the modifiers in order, then taps the key and lets go in reverse.
    void tap(const std::vector<std::string>& modifiers, const std::string& key);

  private:
    void send(const std::string& keysymName, bool down);
    Display* m_display = nullptr;
};

// Another client holding a grab on the root window: of Ctrl+Shift+Super plus
// the key; with no key, of the whole keyboard, as another application's open
// menu does (every other grab then fails until it goes).
class ForeignGrab {
  public:
    explicit ForeignGrab(const std::string& keysymName = {});
    ~ForeignGrab();
    ForeignGrab(const ForeignGrab&) = delete;
    ForeignGrab& operator=(const ForeignGrab&) = delete;
    bool ok() const { return m_grabbed; }

  private:
    Display* m_display = nullptr;
    bool m_grabbed = false;
};

}  // namespace velmarune::testing
