#include "ui/HeadsUpDisplay.h"

namespace velmarune {

void HeadsUpDisplay::show(std::string text, bool showsCopy, double durationSeconds) {
    std::weak_ptr<HeadsUpDisplay> weak = weak_from_this();
    m_deps.queue.post([weak, content = Content{std::move(text), showsCopy}, durationSeconds] {
        if (auto self = weak.lock()) {
            self->showNow(content, durationSeconds);
        }
    });
}

void HeadsUpDisplay::dismiss() {
    std::weak_ptr<HeadsUpDisplay> weak = weak_from_this();
    m_deps.queue.post([weak] {
        if (auto self = weak.lock()) {
            self->dismissNow();
        }
    });
}

void HeadsUpDisplay::showNow(Content content, double durationSeconds) {
    // A newer text replaces the shown one at once: the view swaps its
    // content rather than fading the old one out first.
    const uint64_t generation = ++m_generation;
    m_current = content;
    m_deps.view.present(content, fade(kFadeInSeconds));
    std::weak_ptr<HeadsUpDisplay> weak = weak_from_this();
    m_deps.queue.postAfter(durationSeconds, [weak, generation] {
        auto self = weak.lock();
        if (self && self->m_generation == generation) {
            self->dismissNow();
        }
    });
}

void HeadsUpDisplay::dismissNow() {
    ++m_generation;
    if (!m_current) {
        return;
    }
    m_current.reset();
    m_deps.view.remove(fade(kFadeOutSeconds));
}

void HeadsUpDisplay::copy() {
    if (!m_current) {
        return;
    }
    const std::string text = m_current->text;
    if (m_deps.copy) {
        m_deps.copy(text);
    }
    dismissNow();
}

double HeadsUpDisplay::fade(double seconds) const {
    return m_deps.animationsEnabled && m_deps.animationsEnabled() ? seconds : 0.0;
}

}  // namespace velmarune
