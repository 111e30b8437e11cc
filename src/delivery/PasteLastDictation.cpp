#include "delivery/PasteLastDictation.h"

#include "keys/ModifierCombo.h"

namespace velmarune {

namespace {

// Tells the didn't-paste prompt once the target has read the entry.
class WindowPastedObserver : public PasteObserver {
  public:
    WindowPastedObserver(std::weak_ptr<PasteLastDictation> owner, DidntPastePrompts& prompts,
                         int64_t entryID)
        : m_owner(std::move(owner)), m_prompts(prompts), m_entryID(entryID) {}
    void firstRead() override {
        if (m_owner.lock()) {
            m_prompts.windowPasted(m_entryID);
        }
    }

  private:
    std::weak_ptr<PasteLastDictation> m_owner;
    DidntPastePrompts& m_prompts;
    int64_t m_entryID;
};

}  // namespace

bool PasteLastDictation::modifiersHeld() {
    return (m_deps.keys.combinedFlags() & kModifierMask) != 0;
}

void PasteLastDictation::perform() {
    // The shortcut's modifiers may have armed or started a dictation press.
    if (m_deps.cancelPress) {
        m_deps.cancelPress();
    }
    auto newest = m_deps.store ? m_deps.store->newest() : std::nullopt;
    if (!newest) {
        m_deps.display.showNotice(kEmptyNotice, kNoticeSeconds);
        return;
    }
    if (!modifiersHeld()) {
        pasteNow(*newest, true);
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
        if (self->modifiersHeld() && done < kMaxChecks) {
            self->waitForKeys(entry, done);
        } else {
            self->pasteNow(entry, true);
        }
    });
}

void PasteLastDictation::pasteNow(const RecentDictations::Entry& entry, bool tellPrompts) {
    m_deps.delivery.insert(entry.text, false,
                           tellPrompts ? std::make_shared<WindowPastedObserver>(
                                             weak_from_this(), m_deps.prompts, entry.id)
                                       : nullptr);
}

void PasteLastDictation::paste(std::optional<int64_t> entryID) {
    std::optional<RecentDictations::Entry> chosen;
    if (m_deps.store) {
        chosen = entryID ? m_deps.store->entry(*entryID) : m_deps.store->newest();
    }
    if (!chosen) {
        m_deps.display.showNotice(kEmptyNotice, kNoticeSeconds);
        return;
    }
    std::weak_ptr<PasteLastDictation> weak = weak_from_this();
    // Only a paste of the newest entry tells the prompt (a chosen one may be
    // an older text the prompt still offers on purpose).
    const bool newest = !entryID;
    m_deps.clock.postAfter(kMenuDelaySeconds, [weak, entry = std::move(*chosen), newest] {
        if (auto self = weak.lock()) {
            self->pasteNow(entry, newest);
        }
    });
}

}  // namespace velmarune
