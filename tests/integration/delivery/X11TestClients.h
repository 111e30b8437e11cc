#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
    xcb_window_t window() const { return m_window; }

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

}  // namespace velmarune::testing
