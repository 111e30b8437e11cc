#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "foundation/Log.h"
#include "hotkeys/PasteShortcut.h"

namespace velmarune {

class HotKeyService;
class MainQueue;
class UserDefaults;

// Owns the Paste Last Dictation hot key: at most one registered shortcut,
// whose presses run `action` on the main thread. Main thread only. Create
// with std::make_shared: the service's handler holds this object weakly.
class GlobalHotKey : public std::enable_shared_from_this<GlobalHotKey> {
  public:
    GlobalHotKey(HotKeyService& service, MainQueue& mainQueue, std::function<void()> action);

    // Unregisters any current shortcut, then registers `shortcut` (nothing
    // for std::nullopt). A refusal is logged and leaves nothing registered.
    void set(const std::optional<PasteShortcut>& shortcut);
    // The reloadPasteShortcut hook: set with the stored shortcut.
    void reload(const UserDefaults& defaults) { set(PasteShortcut::load(defaults)); }
    // The suspendPasteShortcut hook: true unregisters (while the settings tab
    // records a shortcut), false sets the stored shortcut again.
    void suspend(bool suspended, const UserDefaults& defaults);

    bool registered() const { return m_registered.has_value(); }
    // The status of the last failed registration (0 when the last one worked).
    int lastStatus() const { return m_lastStatus; }

  private:
    HotKeyService& m_service;
    MainQueue& m_mainQueue;
    std::optional<PasteShortcut> m_registered;
    bool m_handlerInstalled = false;
    int m_lastStatus = 0;
    std::function<void()> m_action;
    Logger m_log{"GlobalHotKey"};
};

}  // namespace velmarune
