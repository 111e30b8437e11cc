#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "hotkeys/PasteShortcut.h"
#include "platform/FrontApplication.h"
#include "platform/HotKeyService.h"
#include "platform/KeyboardMonitor.h"
#include "platform/ModifierState.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/SessionEvents.h"
#include "platform/x11/X11FrontApplication.h"
#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11KeyboardMonitor.h"
#include "platform/x11/X11Pasteboard.h"
#include "shell/WaylandOutputs.h"
#include "system/BackendChoice.h"

namespace velmarune {

class EvdevKeyboardMonitor;
class X11EventLoop;

// Looks at this session: Wayland or X11, what the compositor advertises,
// whether the keyboards can be read. Bounded waits only (a second or two).
DesktopSession probeDesktopSession();

// The folder the evdev listener reads: /dev/input, or VELMARUNE_INPUT_FOLDER
// (recorded input streams, for tests and demonstrations).
std::filesystem::path inputDeviceFolder();

// The desktop services dictation uses, each from the backend chosen for this
// session at start-up. The application itself always has an X display (Qt
// runs on it, XWayland in a Wayland session), so X11 serves whatever nothing
// better does.
class DesktopBackends {
  public:
    DesktopBackends();
    ~DesktopBackends();
    DesktopBackends(const DesktopBackends&) = delete;
    DesktopBackends& operator=(const DesktopBackends&) = delete;

    // Main thread, once: probes, chooses, connects, and logs which backend
    // serves each service and what is missing.
    // `onCompositorLost` runs on the Wayland backends' thread if the
    // compositor goes away (nothing is pasted after that).
    void start(const std::optional<PasteShortcut>& pasteLast,
               std::function<void()> onCompositorLost = {});
    // Ends the backends' threads (the chord listener is stopped by its user).
    void stop();

    Pasteboard& pasteboard() { return *m_pasteboard; }
    PasteKeystroke& keystroke() { return *m_keystroke; }
    ModifierState& keys() { return *m_keys; }
    FrontApplication& frontApplication() { return *m_front; }
    KeyboardMonitor& chordListener() { return *m_chordListener; }
    HotKeyService& hotKeys() { return m_x11HotKeys; }
    const std::vector<ServiceChoice>& choices() const { return m_choices; }
    // Main thread, after start(): what `service` lacks in this session and
    // the fix, for the paste-last shortcut `pasteLast` (the Hotkeys tab asks
    // again for a shortcut just recorded); empty when fully served.
    std::string advice(DesktopService service, const std::optional<PasteShortcut>& pasteLast) const;

    // Any thread, after start(): what the readiness walk asks of the desktop
    // (an X11 session is looked at again, the rest is the start-up choice).
    struct InputReadiness {
        bool keyListening = false;
        bool pasteKeystroke = false;
        std::string keyListeningFix;
    };
    InputReadiness inputReadiness() const;

    // Main thread: the screen was locked or unlocked, or another session
    // took the seat or gave it back. Keys are heard only while neither holds.
    void noteSessionEvent(SessionEvent event);

  private:
    std::shared_ptr<X11EventLoop> m_xLoop;
    X11Pasteboard m_x11Pasteboard;
    X11Keyboard m_x11Keyboard;
    X11FrontApplication m_x11Front;
    X11KeyboardMonitor m_x11Monitor;
    X11HotKeyService m_x11HotKeys;
    std::unique_ptr<EvdevKeyboardMonitor> m_evdev;
    std::optional<WaylandOutputs> m_wayland;

    DesktopSession m_session;
    bool m_locked = false;
    bool m_inactive = false;
    std::vector<ServiceChoice> m_choices;
    Pasteboard* m_pasteboard = &m_x11Pasteboard;
    PasteKeystroke* m_keystroke = &m_x11Keyboard;
    ModifierState* m_keys = &m_x11Keyboard;
    FrontApplication* m_front = &m_x11Front;
    KeyboardMonitor* m_chordListener = &m_x11Monitor;
};

}  // namespace velmarune
