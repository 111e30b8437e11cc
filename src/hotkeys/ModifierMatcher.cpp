#include "hotkeys/ModifierMatcher.h"

#include "foundation/MainQueue.h"

namespace velmarune {

std::shared_ptr<ModifierMatcher> ModifierMatcher::create(
    MainQueue& mainQueue, HotkeyBindings bindings, int64_t dwellMs,
    std::function<void(const Event&)> onEvent) {
    return std::make_shared<ModifierMatcher>(mainQueue, bindings, dwellMs, std::move(onEvent));
}

ModifierMatcher::ModifierMatcher(MainQueue& mainQueue, HotkeyBindings bindings, int64_t dwellMs,
                                 std::function<void(const Event&)> onEvent)
    : m_mainQueue(mainQueue),
      m_bindings(bindings),
      m_dwellMs(dwellMs),
      m_onEvent(std::move(onEvent)) {}

void ModifierMatcher::flagsChanged(uint64_t flags) {
    const uint64_t m = flags & kModifierMask;
    const uint64_t p = m_bindings.pushToTalk.rawValue;
    const bool exact = m == p;
    switch (m_state) {
        case State::idle:
            if (exact) {
                m_state = State::armed;
                startDwellTimer();
            }
            break;
        case State::armed:
            if (!exact) {
                cancelDwellTimer();
                m_state = State::idle;
            }
            break;
        case State::dictating:
            if (!exact) {
                m_state = State::idle;
                if ((m & p) != p) {
                    m_onEvent(Event::released());
                } else {
                    m_onEvent(Event::releasedByAddedModifier(m));
                }
            }
            break;
        case State::passthrough:
            if (m == 0) {
                m_state = State::idle;
            }
            break;
    }
}

void ModifierMatcher::keyDown(int64_t keyCode) {
    switch (m_state) {
        case State::armed:
            cancelDwellTimer();
            m_state = State::passthrough;
            m_log.debug("armed → passthrough (keyDown %{public}lld)", keyCode);
            break;
        case State::dictating:
            m_onEvent(Event::incidentalKey(keyCode));
            break;
        case State::idle:
        case State::passthrough:
            break;
    }
}

void ModifierMatcher::startDwellTimer() {
    cancelDwellTimer();
    m_dwellPending = true;
    const uint64_t generation = m_dwellGeneration;
    std::weak_ptr<ModifierMatcher> weak = weak_from_this();
    m_mainQueue.postAfter(static_cast<double>(m_dwellMs) / 1000.0, [weak, generation] {
        if (auto self = weak.lock()) {
            self->dwellFired(generation);
        }
    });
}

void ModifierMatcher::cancelDwellTimer() {
    ++m_dwellGeneration;
    m_dwellPending = false;
}

void ModifierMatcher::dwellFired(uint64_t generation) {
    if (!m_dwellPending || generation != m_dwellGeneration) {
        return;
    }
    m_dwellPending = false;
    if (m_state == State::armed) {
        m_state = State::dictating;
        m_onEvent(Event::activated());
    }
}

}  // namespace velmarune
