#include "shell/DesktopBackends.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "foundation/Log.h"
#include "platform/evdev/EvdevKeyboardMonitor.h"
#include "platform/evdev/SystemInputDevices.h"
#include "platform/linux/WaylandRegistryProbe.h"
#include "platform/x11/X11DisplayProbe.h"
#include "platform/x11/X11EventLoop.h"

namespace velmarune {

namespace {
const Logger kLog{"Backends"};

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The compositor whose IPC the front-window backends can ask.
std::string compositorWithIPC() {
    const std::string sway = environment("SWAYSOCK");
    std::error_code error;
    if (!sway.empty() && std::filesystem::exists(sway, error)) {
        return "sway";
    }
    if (!environment("HYPRLAND_INSTANCE_SIGNATURE").empty()) {
        return "Hyprland";
    }
    return {};
}
}  // namespace

std::filesystem::path inputDeviceFolder() {
    const std::string folder = environment("VELMARUNE_INPUT_FOLDER");
    return folder.empty() ? std::filesystem::path(SystemInputDevices::kSystemFolder)
                          : std::filesystem::path(folder);
}

DesktopSession probeDesktopSession() {
    DesktopSession session;
    session.wayland = !environment("WAYLAND_DISPLAY").empty();
    session.waylandBackendsBuilt = kWaylandOutputsBuilt;
    if (session.wayland) {
        WaylandRegistry registry = probeWaylandRegistry();
        session.waylandReachable = registry.reachable;
        session.waylandGlobals = std::move(registry.globals);
        session.compositor = compositorWithIPC();
        // The keyboards are opened to see that they can be, then closed:
        // the listener opens them again when it starts.
        // A folder without keyboards yet still serves: they are picked up
        // when plugged in.
        SystemInputDevices devices(inputDeviceFolder());
        for (const InputDevice& keyboard : devices.openKeyboards(session.evdevProblem)) {
            ::close(keyboard.fd);
        }
        session.evdevReadable = session.evdevProblem.empty();
    }
    if (!environment("DISPLAY").empty()) {
        const X11DisplayCapabilities x11 = probeX11Display();
        session.x11Reachable = x11.reachable;
        session.xinput2 = x11.inputListener;
        session.xtest = x11.pasteKeystroke;
    }
    return session;
}

DesktopBackends::DesktopBackends() : m_xLoop(std::make_shared<X11EventLoop>()) {}

DesktopBackends::~DesktopBackends() {
    stop();
}

void DesktopBackends::start(const std::optional<PasteShortcut>& pasteLast,
                            std::function<void()> onCompositorLost) {
    m_session = probeDesktopSession();
    const DesktopSession& session = m_session;
    m_choices = chooseBackends(session, pasteLast);
    auto chosen = [this](DesktopService service) { return choiceFor(m_choices, service).backend; };
    const std::string display = environment("DISPLAY");
    std::string error;
    if (!m_xLoop->connect(display, &error)) {
        kLog.error("X server unavailable: %{public}s", error);
    } else {
        if (!m_x11Pasteboard.attach(m_xLoop, display, &error)) {
            kLog.error("clipboard unavailable: %{public}s", error);
        }
        if (!m_x11Keyboard.attach(m_xLoop, &error)) {
            kLog.error("keyboard state unavailable: %{public}s", error);
        } else if (chosen(DesktopService::chordListener) != DesktopBackend::evdev &&
                   !m_x11Monitor.attach(m_xLoop, m_x11Keyboard, &error)) {
            // The listener's own start reports it to the user.
            kLog.error("keyboard listener unavailable: %{public}s", error);
        }
        m_x11Front.attach(m_xLoop);
        m_xLoop->start();
    }

    if (chosen(DesktopService::pasteKeystroke) == DesktopBackend::wayland ||
        chosen(DesktopService::clipboard) == DesktopBackend::wayland ||
        chosen(DesktopService::frontWindow) == DesktopBackend::wayland) {
        m_wayland = startWaylandOutputs(&error, std::move(onCompositorLost));
        if (!m_wayland) {
            kLog.error("Wayland backends unavailable (%{public}s); XWayland serves instead", error);
        }
    }
    if (m_wayland) {
        // The keystroke must follow the clipboard write on the same connection:
        // both come from the Wayland family, or neither.
        if (m_wayland->pasteboard != nullptr && m_wayland->keystroke != nullptr) {
            m_pasteboard = m_wayland->pasteboard;
            m_keystroke = m_wayland->keystroke;
        }
        if (m_wayland->frontApplication != nullptr) {
            m_front = m_wayland->frontApplication;
        }
    }
    if (chosen(DesktopService::chordListener) == DesktopBackend::evdev) {
        m_evdev = std::make_unique<EvdevKeyboardMonitor>(
            std::make_unique<SystemInputDevices>(inputDeviceFolder()));
        m_chordListener = m_evdev.get();
        m_keys = m_evdev.get();
    }

    kLog.info("%{public}s session; push-to-talk control on the session bus (velmarune ptt)",
              std::string(session.wayland ? "Wayland" : "X11"));
    for (const ServiceChoice& choice : m_choices) {
        if (choice.problem.empty()) {
            kLog.info("%{public}s: %{public}s", desktopServiceName(choice.service),
                      choice.description);
        } else {
            kLog.error("%{public}s: %{public}s; %{public}s", desktopServiceName(choice.service),
                       choice.description, choice.problem);
        }
    }
}

void DesktopBackends::stop() {
    // The backends' threads (front window activations among their calls);
    // the objects themselves end with this one, after everything using them.
    m_xLoop->stop();
    if (m_wayland && m_wayland->stop) {
        m_wayland->stop();
    }
}

std::string DesktopBackends::advice(DesktopService service,
                                    const std::optional<PasteShortcut>& pasteLast) const {
    return choiceFor(chooseBackends(m_session, pasteLast), service).problem;
}

DesktopBackends::InputReadiness DesktopBackends::inputReadiness() const {
    if (!m_session.wayland) {
        const X11DisplayCapabilities display = probeX11Display();
        return {display.inputListener, display.pasteKeystroke, {}};
    }
    const ServiceChoice chord = choiceFor(m_choices, DesktopService::chordListener);
    return {chord.backend == DesktopBackend::evdev,
            choiceFor(m_choices, DesktopService::pasteKeystroke).backend != DesktopBackend::none,
            chord.problem};
}

void DesktopBackends::noteSessionEvent(SessionEvent event) {
    switch (event) {
        case SessionEvent::screenLocked:
        case SessionEvent::screenUnlocked:
            m_locked = event == SessionEvent::screenLocked;
            break;
        case SessionEvent::sessionInactive:
        case SessionEvent::sessionActive:
            m_inactive = event == SessionEvent::sessionInactive;
            break;
        default:
            return;
    }
    if (m_evdev) {
        m_evdev->setSessionActive(!m_locked && !m_inactive);
    }
}

}  // namespace velmarune
