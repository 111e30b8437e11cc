#include "platform/x11/X11FrontApplication.h"

#include <mutex>

#include "platform/x11/X11EventLoop.h"
#include "platform/x11/XcbSupport.h"

namespace velmarune {

using namespace x11;

struct X11FrontApplication::State {
    struct Window {
        WindowClass names;
        uint32_t pid = 0;
    };

    xcb_connection_t* conn = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_atom_t activeAtom = XCB_ATOM_NONE, pidAtom = XCB_ATOM_NONE;

    std::mutex mutex;
    std::optional<Window> active;
    uint64_t activations = 0;
    std::function<void()> onActivation;

    // Loop thread (or set-up): reads the active window's identity.
    void refresh() {
        std::optional<Window> now;
        const xcb_window_t window = activeWindow(conn, root);
        if (window != XCB_WINDOW_NONE) {
            now.emplace();
            if (auto wmClass = getProperty(conn, window, XCB_ATOM_WM_CLASS, 1024)) {
                now->names = parseWmClass(wmClass->bytes);
            }
            now->pid = getCardinal(conn, window, pidAtom).value_or(0);
        }
        std::lock_guard lock(mutex);
        active = std::move(now);
    }

    void handle(const xcb_generic_event_t* event) {
        if (eventType(event) != XCB_PROPERTY_NOTIFY) {
            return;
        }
        auto notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->window != root || notify->atom != activeAtom) {
            return;
        }
        refresh();
        std::function<void()> callback;
        {
            std::lock_guard lock(mutex);
            ++activations;
            callback = onActivation;
        }
        if (callback) {
            callback();
        }
    }
};

X11FrontApplication::X11FrontApplication() : m_state(std::make_shared<State>()) {}

X11FrontApplication::~X11FrontApplication() {
    stop();
}

bool X11FrontApplication::start(const std::string& display, std::string* error) {
    auto loop = std::make_shared<X11EventLoop>();
    if (!loop->connect(display, error) || !attach(loop, error)) {
        return false;
    }
    m_ownLoop = true;
    loop->start();
    return true;
}

bool X11FrontApplication::attach(std::shared_ptr<X11EventLoop> loop, std::string*) {
    State& state = *m_state;
    state.conn = loop->connection();
    state.root = loop->root();
    state.activeAtom = internAtom(state.conn, "_NET_ACTIVE_WINDOW");
    state.pidAtom = internAtom(state.conn, "_NET_WM_PID");
    // The root's other property changes come too; they are few and cheap.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(state.conn, state.root, XCB_CW_EVENT_MASK, &mask);
    state.refresh();
    std::weak_ptr<State> weak = m_state;
    loop->addEventHandler([weak](const xcb_generic_event_t* event) {
        if (auto self = weak.lock()) {
            self->handle(event);
        }
    });
    m_loop = std::move(loop);
    return true;
}

void X11FrontApplication::stop() {
    if (m_loop && m_ownLoop) {
        m_loop->stop();
    }
}

void X11FrontApplication::setOnActivation(std::function<void()> callback) {
    std::lock_guard lock(m_state->mutex);
    m_state->onActivation = std::move(callback);
}

uint64_t X11FrontApplication::activationCount() {
    std::lock_guard lock(m_state->mutex);
    return m_state->activations;
}

std::optional<std::string> X11FrontApplication::frontmost() {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->active) {
        return std::nullopt;
    }
    const auto& window = *m_state->active;
    const std::string& name = window.names.className.empty() ? "?" : window.names.className;
    return name + ":" + std::to_string(window.pid);
}

std::vector<std::string> X11FrontApplication::frontmostClassNames() {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->active) {
        return {};
    }
    std::vector<std::string> names;
    for (const auto* name : {&m_state->active->names.instance, &m_state->active->names.className}) {
        if (!name->empty()) {
            names.push_back(*name);
        }
    }
    return names;
}

}  // namespace velmarune
