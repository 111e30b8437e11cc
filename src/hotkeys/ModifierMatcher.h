#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "foundation/Log.h"
#include "hotkeys/HotkeyBindings.h"

namespace velmarune {

class MainQueue;

// Decides push-to-talk from modifier changes and key-downs: the chord must be
// held exactly, with no other key, for the dwell time before dictation
// starts, so that ordinary shortcuts beginning with the same modifiers pass
// untouched. Main thread only.
class ModifierMatcher : public std::enable_shared_from_this<ModifierMatcher> {
  public:
    enum class State { idle, armed, dictating, passthrough };

    struct Event {
        enum class Kind {
            pushToTalkReleasedByAddedModifier,  // payload: flags
            incidentalKeyDuringPTT,             // payload: keyCode
            pushToTalkActivated,
            pushToTalkReleased,
        };
        Kind kind;
        uint64_t flags = 0;
        int64_t keyCode = 0;

        static Event releasedByAddedModifier(uint64_t flags) {
            return {Kind::pushToTalkReleasedByAddedModifier, flags, 0};
        }
        static Event incidentalKey(int64_t keyCode) {
            return {Kind::incidentalKeyDuringPTT, 0, keyCode};
        }
        static Event activated() { return {Kind::pushToTalkActivated}; }
        static Event released() { return {Kind::pushToTalkReleased}; }

        bool operator==(const Event&) const = default;
    };

    // Owned through shared_ptr so that the dwell timer can hold it weakly.
    static std::shared_ptr<ModifierMatcher> create(MainQueue& mainQueue, HotkeyBindings bindings,
                                                   int64_t dwellMs,
                                                   std::function<void(const Event&)> onEvent);

    void flagsChanged(uint64_t flags);
    void keyDown(int64_t keyCode);

    // Replaces the chord in place; the state and a running timer stay.
    void setBindings(HotkeyBindings bindings) { m_bindings = bindings; }
    const HotkeyBindings& bindings() const { return m_bindings; }
    State state() const { return m_state; }
    int64_t dwellMs() const { return m_dwellMs; }

    ModifierMatcher(MainQueue& mainQueue, HotkeyBindings bindings, int64_t dwellMs,
                    std::function<void(const Event&)> onEvent);

  private:
    void startDwellTimer();
    void cancelDwellTimer();
    void dwellFired(uint64_t generation);

    MainQueue& m_mainQueue;
    HotkeyBindings m_bindings;
    State m_state = State::idle;
    int64_t m_dwellMs;
    // The pending dwell timer is the one whose generation is current; a
    // cancelled timer still runs but finds its generation stale.
    uint64_t m_dwellGeneration = 0;
    bool m_dwellPending = false;
    std::function<void(const Event&)> m_onEvent;
    Logger m_log{"ModifierMatcher"};
};

}  // namespace velmarune
