#include "hotkeys/GlobalHotKey.h"

#include "foundation/MainQueue.h"
#include "platform/HotKeyService.h"

namespace velmarune {

GlobalHotKey::GlobalHotKey(HotKeyService& service, MainQueue& mainQueue,
                           std::function<void()> action)
    : m_service(service), m_mainQueue(mainQueue), m_action(std::move(action)) {}

void GlobalHotKey::set(const std::optional<PasteShortcut>& shortcut) {
    if (m_registered) {
        m_service.unregisterHotKey();
        m_registered.reset();
    }
    if (!shortcut) {
        return;
    }
    if (!m_handlerInstalled) {
        // Installed once and kept: suspending or changing the shortcut only
        // swaps the registration.
        std::weak_ptr<GlobalHotKey> weak = weak_from_this();
        MainQueue* mainQueue = &m_mainQueue;
        m_service.setPressedHandler([weak, mainQueue] {
            mainQueue->post([weak] {
                if (auto self = weak.lock(); self && self->m_action) {
                    self->m_action();
                }
            });
        });
        m_handlerInstalled = true;
    }
    const int status = m_service.registerHotKey(shortcut->keyCode, shortcut->modifiers);
    m_lastStatus = status;
    if (status != 0) {
        m_log.error("register %{public}s failed: %{public}d", shortcut->display(), status);
        return;
    }
    m_registered = shortcut;
    m_log.info("registered %{public}s", shortcut->display());
}

void GlobalHotKey::suspend(bool suspended, const UserDefaults& defaults) {
    if (suspended) {
        set(std::nullopt);
    } else {
        reload(defaults);
    }
}

}  // namespace velmarune
