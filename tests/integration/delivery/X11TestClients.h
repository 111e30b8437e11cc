#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

typedef struct _XDisplay Display;

namespace velmarune::testing {

// A mapped window on its own connection and thread that records the key
// presses it receives and pastes the CLIPBOARD (as UTF8_STRING) when it
// receives Control+V, as a text field would.
class PasteTarget {
  public:
    struct Press {
        xcb_keycode_t keycode;
        uint16_t state;
    };

    explicit PasteTarget(const std::string& wmClass);
    ~PasteTarget();

    // Waits until the window manager made it the active window.
    bool waitUntilActive(double seconds);
    // Gives it the focus where no window manager does.
    bool takeFocus(double seconds);
    // The next key press it received, waiting at most `seconds`.
    std::optional<Press> nextPress(double seconds);
    // The text of the next paste, waiting at most `seconds`.
    std::optional<std::string> waitForPaste(double seconds);
    // Whether Shift was held with the last Control+V.
    bool lastPasteHadShift() const { return m_shift.load(); }
    // The keyboard group the last Control+V was typed in.
    int lastPasteGroup() const { return m_group.load(); }

  private:
    void run();

    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_window = 0;
    xcb_atom_t m_clipboard = 0, m_utf8 = 0, m_property = 0;
    xcb_keycode_t m_v = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_shift{false};
    std::atomic<int> m_group{-1};
    std::mutex m_mutex;
    std::vector<std::string> m_pasted;
    std::vector<Press> m_presses;
    std::thread m_thread;
};

// The keyboard group locked now, and a way to lock one, as a layout switch does.
int lockedKeyboardGroup();
void lockKeyboardGroup(int group);

// A CLIPBOARD owner that misbehaves.
class RogueOwner {
  public:
    enum class Mode {
        silent,          // never answers
        garbageTargets,  // answers TARGETS with values that are no atoms
        emptyTargets,    // answers TARGETS with an empty list
        stalledIncr,     // starts a large transfer and never sends a chunk
    };
    explicit RogueOwner(Mode mode);
    ~RogueOwner();
    // Drops the connection, as a crashing client would.
    void die();

  private:
    void run();

    Mode m_mode;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_window = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

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
