#include "platform/x11/X11HotKeyService.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
// xkb.h names a field "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cerrno>
#include <cstdlib>

#include "keys/KeyCodes.h"
#include "platform/x11/X11Keymap.h"

namespace velmarune {

namespace {
constexpr uint32_t kAltL = 0xffe9;
constexpr uint32_t kSuperL = 0xffeb;
constexpr uint32_t kNumLock = 0xff7f;
}  // namespace

X11HotKeyService::~X11HotKeyService() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        (void)!write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    if (m_wakeFd >= 0)
        close(m_wakeFd);
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11HotKeyService::connect() {
    if (m_connection) {
        return true;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    m_connection = connection;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // With detectable auto-repeat a held key sends repeated presses without
    // releases in between, so one press is one action.
    if (auto* xkb = xcb_xkb_use_extension_reply(connection, xcb_xkb_use_extension(connection, 1, 0),
                                                nullptr)) {
        std::free(xkb);
        std::free(xcb_xkb_per_client_flags_reply(
            connection,
            xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
            nullptr));
    }
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
    return true;
}

void X11HotKeyService::setPressedHandler(std::function<void()> pressed) {
    std::lock_guard lock(m_mutex);
    m_pressed = std::move(pressed);
}

int X11HotKeyService::registerHotKey(uint16_t keyCode, ModifierCombo modifiers) {
    std::lock_guard lock(m_mutex);
    if (!connect() || xcb_connection_has_error(m_connection)) {
        return kStatusNoDisplay;
    }
    ungrabLocked();
    X11Keymap keymap;
    auto keysym = keysymForKeyCode(keyCode);
    if (!keysym || !keymap.load(m_connection)) {
        return kStatusNoSuchKey;
    }
    const uint8_t keycode = keymap.keycodeFor(*keysym);
    if (keycode == 0) {
        return kStatusNoSuchKey;
    }
    uint16_t mask = 0;
    if (modifiers.contains(kModifierShift))
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers.contains(kModifierControl))
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers.contains(kModifierOption)) {
        const uint16_t alt = keymap.maskFor(kAltL);
        mask |= alt ? alt : static_cast<uint16_t>(XCB_MOD_MASK_1);
    }
    if (modifiers.contains(kModifierCommand)) {
        const uint16_t super = keymap.maskFor(kSuperL);
        mask |= super ? super : static_cast<uint16_t>(XCB_MOD_MASK_4);
    }
    const uint16_t numLock = keymap.maskFor(kNumLock);
    std::vector<uint16_t> variants{0, XCB_MOD_MASK_LOCK};
    if (numLock && !(mask & numLock)) {
        variants.push_back(numLock);
        variants.push_back(static_cast<uint16_t>(numLock | XCB_MOD_MASK_LOCK));
    }

    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t variant : variants) {
        cookies.push_back(xcb_grab_key_checked(m_connection, 1, m_root,
                                               static_cast<uint16_t>(mask | variant), keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    // Each grab is checked at once: another client's grab answers BadAccess,
    // and a half-made registration is taken back.
    int status = 0;
    for (auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(m_connection, cookie)) {
            if (status == 0)
                status = error->error_code;
            std::free(error);
        }
    }
    // A lost connection answers no errors at all: that is no success.
    if (status == 0 && xcb_connection_has_error(m_connection)) {
        status = kStatusNoDisplay;
    }
    m_grabbedKeycode = keycode;
    m_grabbedModifiers = mask;
    m_lockMasks = static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLock);
    m_grabbedVariants = variants;
    m_down = false;
    if (status != 0) {
        ungrabLocked();
    }
    return status;
}

void X11HotKeyService::unregisterHotKey() {
    std::lock_guard lock(m_mutex);
    ungrabLocked();
}

void X11HotKeyService::ungrabLocked() {
    if (!m_connection || m_grabbedKeycode == 0) {
        return;
    }
    for (uint16_t variant : m_grabbedVariants) {
        xcb_ungrab_key(m_connection, m_grabbedKeycode, m_root,
                       static_cast<uint16_t>(m_grabbedModifiers | variant));
    }
    // Wait for the server so that a grab made right after sees the key free.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    m_grabbedKeycode = 0;
    m_grabbedVariants.clear();
    m_down = false;
}

void X11HotKeyService::run() {
    pollfd fds[2] = {{xcb_get_file_descriptor(m_connection), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    while (true) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            const uint8_t type = event->response_type & 0x7f;
            std::function<void()> pressed;
            if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
                std::lock_guard lock(m_mutex);
                const bool ours = m_grabbedKeycode != 0 && key->detail == m_grabbedKeycode &&
                                  (key->state & ~m_lockMasks & 0xff) == m_grabbedModifiers;
                if (type == XCB_KEY_RELEASE && key->detail == m_grabbedKeycode) {
                    m_down = false;
                } else if (type == XCB_KEY_PRESS && ours && !m_down) {
                    m_down = true;
                    pressed = m_pressed;
                }
            }
            std::free(event);
            if (pressed)
                pressed();
        }
        if (xcb_connection_has_error(m_connection)) {
            return;
        }
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents & POLLIN) {
            return;
        }
    }
}

}  // namespace velmarune
