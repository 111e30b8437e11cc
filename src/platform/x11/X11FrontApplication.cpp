#include "platform/x11/X11FrontApplication.h"

#include <xcb/xcb.h>

#include "platform/x11/XcbSupport.h"

namespace velmarune {

using namespace x11;

X11FrontApplication::~X11FrontApplication() {
    stop();
    if (m_conn) {
        xcb_disconnect(m_conn);
    }
}

bool X11FrontApplication::start(const std::string& display, std::string* error) {
    const char* name = display.empty() ? nullptr : display.c_str();
    m_conn = xcb_connect(name, nullptr);
    m_watchConn = xcb_connect(name, nullptr);
    if (xcb_connection_has_error(m_conn) || xcb_connection_has_error(m_watchConn)) {
        if (error) {
            *error = "cannot connect to the X server";
        }
        return false;
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_watchConn, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_watchConn);
    m_stopping = false;
    m_thread = std::thread([this] { watch(); });
    return true;
}

void X11FrontApplication::stop() {
    m_stopping = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_watchConn) {
        xcb_disconnect(m_watchConn);
        m_watchConn = nullptr;
    }
}

void X11FrontApplication::watch() {
    const xcb_atom_t active = internAtom(m_watchConn, "_NET_ACTIVE_WINDOW");
    while (!m_stopping && !xcb_connection_has_error(m_watchConn)) {
        waitForEvent(
            m_watchConn, [](const xcb_generic_event_t*) { return false; }, 0.1,
            [this] { return m_stopping.load(); },
            [&](const xcb_generic_event_t* event) {
                if (eventType(event) != XCB_PROPERTY_NOTIFY ||
                    reinterpret_cast<const xcb_property_notify_event_t*>(event)->atom != active) {
                    return;
                }
                std::function<void()> callback;
                {
                    std::lock_guard lock(m_mutex);
                    callback = m_onActivation;
                }
                if (callback) {
                    callback();
                }
            });
    }
}

void X11FrontApplication::setOnActivation(std::function<void()> callback) {
    std::lock_guard lock(m_mutex);
    m_onActivation = std::move(callback);
}

std::optional<std::string> X11FrontApplication::frontmost() {
    std::lock_guard lock(m_mutex);
    if (!m_conn || xcb_connection_has_error(m_conn)) {
        return std::nullopt;
    }
    const xcb_window_t window = activeWindow(m_conn, m_root);
    if (window == XCB_WINDOW_NONE) {
        return std::nullopt;
    }
    std::string identity = "?";
    if (auto wmClass = getProperty(m_conn, window, XCB_ATOM_WM_CLASS, 1024)) {
        const std::string& raw = wmClass->bytes;
        const auto split = raw.find('\0');
        if (split != std::string::npos) {
            std::string cls = raw.substr(split + 1);
            cls = cls.substr(0, cls.find('\0'));
            if (!cls.empty()) {
                identity = cls;
            }
        }
    }
    const auto pid = getCardinal(m_conn, window, internAtom(m_conn, "_NET_WM_PID"));
    return identity + ":" + (pid ? std::to_string(*pid) : std::string("0"));
}

}  // namespace velmarune
