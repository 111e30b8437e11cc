#include "hotkeys/HotkeyManager.h"

#include <utility>

#include "foundation/MainQueue.h"
#include "foundation/UserDefaults.h"
#include "platform/KeyboardMonitor.h"

namespace velmarune {

HotkeyManager::HotkeyManager(UserDefaults& defaults, MainQueue& mainQueue, KeyboardMonitor& monitor)
    : m_defaults(defaults), m_mainQueue(mainQueue), m_monitor(monitor) {}

HotkeyManager::~HotkeyManager() {
    if (m_listening) {
        m_monitor.stop();
    }
}

bool HotkeyManager::start() {
    // Only a whole number counts as a dwell; a string, a bool or 12.5 falls back.
    int64_t dwellMs = kDefaultDwellMs;
    const auto asDouble = m_defaults.doubleValue(kPttDwellMsKey);
    const auto asInteger = m_defaults.integerValue(kPttDwellMsKey);
    if (asDouble && asInteger && static_cast<double>(*asInteger) == *asDouble) {
        dwellMs = *asInteger;
    }
    std::weak_ptr<HotkeyManager> weak = weak_from_this();
    m_matcher = ModifierMatcher::create(m_mainQueue, HotkeyBindings::load(m_defaults), dwellMs,
                                        [weak](const ModifierMatcher::Event& event) {
                                            if (auto self = weak.lock()) {
                                                self->handle(event);
                                            }
                                        });

    if (m_listening) {
        m_monitor.stop();
        m_listening = false;
    }
    // The monitor calls from its own thread; the matcher lives on the main
    // thread, so each event hops there (and finds the matcher current then).
    KeyboardMonitor::Handlers handlers;
    MainQueue* mainQueue = &m_mainQueue;
    handlers.flagsChanged = [weak, mainQueue](uint64_t flags) {
        mainQueue->post([weak, flags] {
            if (auto self = weak.lock(); self && self->m_matcher) {
                self->m_matcher->flagsChanged(flags);
            }
        });
    };
    handlers.keyDown = [weak, mainQueue](int64_t keyCode) {
        mainQueue->post([weak, keyCode] {
            if (auto self = weak.lock(); self && self->m_matcher) {
                self->m_matcher->keyDown(keyCode);
            }
        });
    };
    if (!m_monitor.start(std::move(handlers))) {
        m_log.error(
            "keyboard listener failed to start — no XInput2 keyboard access on this display");
        return false;
    }
    m_listening = true;
    m_log.info("keyboard listener started (listen-only)");
    return true;
}

void HotkeyManager::stop() {
    m_monitor.stop();
    m_listening = false;
}

void HotkeyManager::reloadBindings() {
    if (m_matcher) {
        m_matcher->setBindings(HotkeyBindings::load(m_defaults));
    }
}

void HotkeyManager::handle(const ModifierMatcher::Event& event) {
    using Kind = ModifierMatcher::Event::Kind;
    switch (event.kind) {
        case Kind::incidentalKeyDuringPTT:
            m_log.debug("incidental keyDown during PTT: %{public}lld", event.keyCode);
            return;
        case Kind::pushToTalkActivated:
            if (m_suspended) {
                m_log.info("push-to-talk ignored: a new chord is being recorded");
                return;
            }
            m_activeDelivered = true;
            m_log.info("push-to-talk ACTIVE");
            break;
        case Kind::pushToTalkReleased:
        case Kind::pushToTalkReleasedByAddedModifier:
            if (!std::exchange(m_activeDelivered, false)) {
                return;  // its activation was ignored
            }
            m_log.info("push-to-talk RELEASED");
            break;
    }
    std::weak_ptr<HotkeyManager> weak = weak_from_this();
    m_mainQueue.post([weak, event] {
        if (auto self = weak.lock(); self && self->onPTTEvent) {
            self->onPTTEvent(event);
        }
    });
}

}  // namespace velmarune
