#include "delivery/DidntPasteList.h"

#include <utility>

namespace velmarune {

void DidntPasteList::show(DidntPastePrompt prompt) {
    m_prompts.push_back(std::move(prompt));
    trim();
    refresh();
}

std::vector<DidntPastePrompt> DidntPasteList::dismiss() {
    auto taken = std::exchange(m_prompts, {});
    hidePanel();
    return taken;
}

void DidntPasteList::restore(std::vector<DidntPastePrompt> prompts) {
    if (prompts.empty()) {
        return;
    }
    for (auto& prompt : m_prompts) prompts.push_back(std::move(prompt));
    m_prompts = std::move(prompts);
    trim();
    refresh();
}

void DidntPasteList::windowPasted(int64_t entryID) {
    for (auto it = m_prompts.begin(); it != m_prompts.end(); ++it) {
        if (it->entryID == entryID) {
            m_prompts.erase(it);
            refresh();
            return;
        }
    }
}

void DidntPasteList::paste(size_t index) {
    if (index >= m_prompts.size()) {
        return;
    }
    auto prompt = std::move(m_prompts[index]);
    m_prompts.erase(m_prompts.begin() + static_cast<std::ptrdiff_t>(index));
    // The panel is rebuilt before the paste, so it never shows a pasted row.
    refresh();
    if (prompt.onPaste) {
        prompt.onPaste();
    }
}

void DidntPasteList::close() {
    auto taken = dismiss();
    for (auto& prompt : taken) {
        if (prompt.onClose) {
            prompt.onClose();
        }
    }
}

void DidntPasteList::trim() {
    if (m_prompts.size() > kCapacity) {
        m_prompts.erase(m_prompts.begin(),
                        m_prompts.end() - static_cast<std::ptrdiff_t>(kCapacity));
    }
}

void DidntPasteList::refresh() {
    hidePanel();
    if (m_prompts.empty()) {
        return;
    }
    std::weak_ptr<DidntPasteList> weak = weak_from_this();
    m_presenter.show(
        m_prompts,
        [weak](size_t index) {
            if (auto self = weak.lock()) {
                self->paste(index);
            }
        },
        [weak] {
            if (auto self = weak.lock()) {
                self->close();
            }
        });
    m_showing = true;
}

void DidntPasteList::hidePanel() {
    if (m_showing) {
        m_presenter.hide();
        m_showing = false;
    }
}

}  // namespace velmarune
