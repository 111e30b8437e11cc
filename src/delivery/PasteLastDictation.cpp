#include "delivery/PasteLastDictation.h"

namespace velmarune {

void PasteLastDictation::perform() {
    // The shortcut's modifiers may have armed or started a dictation press.
    if (m_deps.cancelPress) {
        m_deps.cancelPress();
    }
    auto newest = m_deps.store ? m_deps.store->newest() : std::nullopt;
    if (!newest) {
        m_deps.notice(kEmptyNotice);
        return;
    }
    if (!m_deps.modifiersHeld()) {
        pasteNow(*newest);
        return;
    }
    waitForKeys(std::move(*newest), 0);
}

void PasteLastDictation::waitForKeys(RecentDictations::Entry entry, int checks) {
    std::weak_ptr<PasteLastDictation> weak = weak_from_this();
    m_deps.clock.postAfter(kCheckIntervalSeconds, [weak, entry = std::move(entry), checks]() {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        // Counted in whole checks so that the bound is exactly 1.0 s.
        const int done = checks + 1;
        if (self->m_deps.modifiersHeld() && done < kMaxChecks) {
            self->waitForKeys(entry, done);
        } else {
            self->pasteNow(entry);
        }
    });
}

void PasteLastDictation::pasteNow(const RecentDictations::Entry& entry) {
    std::weak_ptr<PasteLastDictation> weak = weak_from_this();
    const int64_t id = entry.id;
    m_deps.insert(entry.text, [weak, id] {
        if (auto self = weak.lock(); self && self->m_deps.windowPasted) {
            self->m_deps.windowPasted(id);
        }
    });
}

void PasteLastDictation::paste(std::optional<int64_t> entryID) {
    std::optional<RecentDictations::Entry> chosen;
    if (m_deps.store) {
        chosen = entryID ? m_deps.store->entry(*entryID) : m_deps.store->newest();
    }
    if (!chosen) {
        m_deps.notice(kEmptyNotice);
        return;
    }
    std::weak_ptr<PasteLastDictation> weak = weak_from_this();
    const bool newest = !entryID;
    m_deps.clock.postAfter(kMenuDelaySeconds, [weak, entry = std::move(*chosen), newest] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (newest) {
            self->pasteNow(entry);
        } else {
            self->m_deps.insert(entry.text, [] {});
        }
    });
}

}  // namespace velmarune
