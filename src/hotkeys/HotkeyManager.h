#pragma once

#include <functional>
#include <memory>

#include "foundation/Log.h"
#include "hotkeys/ModifierMatcher.h"

namespace velmarune {

class KeyboardMonitor;
class MainQueue;
class UserDefaults;

inline constexpr const char* kPttDwellMsKey = "pttDwellMs";
inline constexpr int64_t kDefaultDwellMs = 40;

// The push-to-talk listener: feeds the desktop's keyboard (through a
// listen-only monitor) into a ModifierMatcher on the main thread and hands
// its events on one main-queue turn later. Create with std::make_shared: the
// monitor's callbacks hold the manager weakly.
class HotkeyManager : public std::enable_shared_from_this<HotkeyManager> {
  public:
    HotkeyManager(UserDefaults& defaults, MainQueue& mainQueue, KeyboardMonitor& monitor);
    ~HotkeyManager();
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;

    // Builds a fresh matcher ("pttBinding", "pttDwellMs") and (re)starts the
    // monitor. False when the keyboard cannot be observed.
    bool start();
    // Stops the monitor (at termination).
    void stop();
    // Re-reads "pttBinding" into the current matcher; state, timer and dwell stay.
    void reloadBindings();
    // While the settings window records a new chord the user holds modifiers
    // on purpose: no dictation starts then. A dictation already under way
    // still gets its release.
    void setSuspended(bool suspended) { m_suspended = suspended; }

    // Receives pushToTalkActivated, pushToTalkReleased and
    // pushToTalkReleasedByAddedModifier on the main thread.
    std::function<void(const ModifierMatcher::Event&)> onPTTEvent;

    // The current matcher (absent before the first start).
    std::shared_ptr<ModifierMatcher> matcher() const { return m_matcher; }
    bool listening() const { return m_listening; }

  private:
    void handle(const ModifierMatcher::Event& event);

    UserDefaults& m_defaults;
    MainQueue& m_mainQueue;
    KeyboardMonitor& m_monitor;
    std::shared_ptr<ModifierMatcher> m_matcher;
    bool m_listening = false;
    bool m_suspended = false;
    bool m_activeDelivered = false;  // an activation was handed on and not yet released
    Logger m_log{"HotkeyManager"};
};

}  // namespace velmarune
