#include "X11TestClients.h"

#include <X11/keysym.h>
// xkb.h names a field "explicit"; keep it away from the C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <cstring>

#include "platform/x11/X11Keymap.h"
#include "platform/x11/XcbSupport.h"
#include "support/Process.h"

// Xlib last: its macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace velmarune::testing {

using namespace x11;

namespace {
xcb_window_t createWindow(xcb_connection_t* conn, uint32_t eventMask) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;
    const xcb_window_t window = xcb_generate_id(conn);
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, window, screen->root, 10, 10, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                      &eventMask);
    xcb_flush(conn);
    return window;
}

xcb_timestamp_t takeClipboard(xcb_connection_t* conn, xcb_window_t window) {
    const xcb_atom_t clipboard = internAtom(conn, "CLIPBOARD");
    xcb_change_property(conn, XCB_PROP_MODE_APPEND, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                        nullptr);
    auto event = waitForEvent(
        conn, [](const xcb_generic_event_t* e) { return eventType(e) == XCB_PROPERTY_NOTIFY; },
        2.0);
    const xcb_timestamp_t time =
        event ? reinterpret_cast<xcb_property_notify_event_t*>(event.get())->time : 0;
    xcb_set_selection_owner(conn, window, clipboard, time);
    xcb_flush(conn);
    return time;
}

xcb_window_t focusOf(xcb_connection_t* conn) {
    XcbPtr<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    return focus ? focus->focus : XCB_NONE;
}

// The first element of `queue` once there is one, waiting at most `seconds`.
template <typename T>
std::optional<T> takeFirst(std::mutex& mutex, std::vector<T>& queue, double seconds) {
    std::optional<T> first;
    waitUntil(
        [&] {
            std::lock_guard lock(mutex);
            if (!queue.empty()) {
                first = queue.front();
                queue.erase(queue.begin());
            }
            return first.has_value();
        },
        seconds, 0.01);
    return first;
}
}  // namespace

PasteTarget::PasteTarget(const std::string& wmClass) {
    m_conn = xcb_connect(nullptr, nullptr);
    // An XKB-aware client: its key events carry the keyboard group.
    XcbPtr<xcb_xkb_use_extension_reply_t> xkb(
        xcb_xkb_use_extension_reply(m_conn, xcb_xkb_use_extension(m_conn, 1, 0), nullptr));
    m_window = createWindow(m_conn, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_PROPERTY_CHANGE);
    const std::string classHint = "target" + std::string(1, '\0') + wmClass + std::string(1, '\0');
    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING,
                        8, static_cast<uint32_t>(classHint.size()), classHint.data());
    xcb_map_window(m_conn, m_window);
    m_clipboard = internAtom(m_conn, "CLIPBOARD");
    m_utf8 = internAtom(m_conn, "UTF8_STRING");
    m_property = internAtom(m_conn, "PASTED");
    X11Keymap keymap;
    keymap.load(m_conn);
    m_v = keymap.keycodeFor(XK_v);
    xcb_flush(m_conn);
    m_thread = std::thread([this] { run(); });
}

PasteTarget::~PasteTarget() {
    m_stop = true;
    m_thread.join();
    xcb_disconnect(m_conn);
}

bool PasteTarget::waitUntilActive(double seconds) {
    xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    // The window manager names it active and has given it the focus.
    const auto active = [&] {
        return activeWindow(conn, root) == m_window && focusOf(conn) == m_window;
    };
    bool done = waitUntil(active, std::min(seconds, 0.5));
    if (!done && seconds > 0.5) {
        // A window manager that has just started may not focus a new window by itself.
        runCommand({"xdotool", "windowactivate", std::to_string(m_window)});
        done = waitUntil(active, seconds - 0.5);
    }
    xcb_disconnect(conn);
    return done;
}

bool PasteTarget::takeFocus(double seconds) {
    xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
    // Refused until the window is mapped: tried again until it holds.
    const bool done = waitUntil(
        [&] {
            xcb_set_input_focus(conn, XCB_INPUT_FOCUS_PARENT, m_window, XCB_CURRENT_TIME);
            return focusOf(conn) == m_window;
        },
        seconds);
    xcb_disconnect(conn);
    return done;
}

std::optional<PasteTarget::Press> PasteTarget::nextPress(double seconds) {
    return takeFirst(m_mutex, m_presses, seconds);
}

std::optional<std::string> PasteTarget::waitForPaste(double seconds) {
    return takeFirst(m_mutex, m_pasted, seconds);
}

void PasteTarget::run() {
    while (!m_stop) {
        waitForEvent(
            m_conn, [](const xcb_generic_event_t*) { return false; }, 0.1,
            [this] { return m_stop.load(); },
            [this](const xcb_generic_event_t* event) {
                if (eventType(event) == XCB_KEY_PRESS) {
                    auto key = reinterpret_cast<const xcb_key_press_event_t*>(event);
                    {
                        std::lock_guard lock(m_mutex);
                        m_presses.push_back({key->detail, key->state});
                    }
                    if (key->detail == m_v && (key->state & XCB_MOD_MASK_CONTROL)) {
                        m_shift = (key->state & XCB_MOD_MASK_SHIFT) != 0;
                        m_group = (key->state >> 13) & 3;  // XKB puts the group here
                        xcb_convert_selection(m_conn, m_window, m_clipboard, m_utf8, m_property,
                                              key->time);
                        xcb_flush(m_conn);
                    }
                } else if (eventType(event) == XCB_SELECTION_NOTIFY) {
                    auto notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event);
                    if (notify->property == XCB_ATOM_NONE) {
                        return;
                    }
                    auto value = getProperty(m_conn, m_window, m_property, 1 << 20);
                    std::lock_guard lock(m_mutex);
                    m_pasted.push_back(value ? value->bytes : std::string());
                }
            });
    }
}

int lockedKeyboardGroup() {
    xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
    XcbPtr<xcb_xkb_use_extension_reply_t> use(
        xcb_xkb_use_extension_reply(conn, xcb_xkb_use_extension(conn, 1, 0), nullptr));
    XcbPtr<xcb_xkb_get_state_reply_t> state(
        xcb_xkb_get_state_reply(conn, xcb_xkb_get_state(conn, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    const int group = state ? state->lockedGroup : -1;
    xcb_disconnect(conn);
    return group;
}

void lockKeyboardGroup(int group) {
    xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
    XcbPtr<xcb_xkb_use_extension_reply_t> use(
        xcb_xkb_use_extension_reply(conn, xcb_xkb_use_extension(conn, 1, 0), nullptr));
    xcb_xkb_latch_lock_state(conn, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, static_cast<uint8_t>(group), 0,
                             0, 0);
    XcbPtr<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    xcb_disconnect(conn);
}

RogueOwner::RogueOwner(Mode mode) : m_mode(mode) {
    m_conn = xcb_connect(nullptr, nullptr);
    m_window = createWindow(m_conn, XCB_EVENT_MASK_PROPERTY_CHANGE);
    takeClipboard(m_conn, m_window);
    m_thread = std::thread([this] { run(); });
}

RogueOwner::~RogueOwner() {
    die();
}

void RogueOwner::die() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_conn) {
        xcb_disconnect(m_conn);
        m_conn = nullptr;
    }
}

void RogueOwner::run() {
    const xcb_atom_t targets = internAtom(m_conn, "TARGETS");
    const xcb_atom_t incr = internAtom(m_conn, "INCR");
    const xcb_atom_t utf8 = internAtom(m_conn, "UTF8_STRING");
    while (!m_stop) {
        waitForEvent(
            m_conn, [](const xcb_generic_event_t*) { return false; }, 0.1,
            [this] { return m_stop.load(); },
            [&](const xcb_generic_event_t* event) {
                if (eventType(event) != XCB_SELECTION_REQUEST || m_mode == Mode::silent) {
                    return;
                }
                auto request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
                if (request->target == targets) {
                    std::vector<uint32_t> list = {0xdeadbeef, 0x7fffff00, utf8, 0, utf8};
                    if (m_mode == Mode::garbageTargets) {
                        for (uint32_t i = 0; i < 5000; ++i) list.push_back(0x6000000 + i);
                    } else if (m_mode == Mode::emptyTargets) {
                        list.clear();
                    }
                    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, request->requestor,
                                        request->property, XCB_ATOM_ATOM, 32,
                                        static_cast<uint32_t>(list.size()), list.data());
                } else if (m_mode == Mode::stalledIncr) {
                    const uint32_t size = 50u << 20;
                    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, request->requestor,
                                        request->property, incr, 32, 1, &size);
                } else {
                    const char text[] = "rogue";
                    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, request->requestor,
                                        request->property, utf8, 8, 5, text);
                }
                xcb_selection_notify_event_t reply{};
                reply.response_type = XCB_SELECTION_NOTIFY;
                reply.time = request->time;
                reply.requestor = request->requestor;
                reply.selection = request->selection;
                reply.target = request->target;
                reply.property = request->property;
                xcb_send_event(m_conn, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&reply));
                xcb_flush(m_conn);
            });
    }
}

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
