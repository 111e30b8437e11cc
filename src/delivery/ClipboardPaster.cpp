#include "delivery/ClipboardPaster.h"

#include <algorithm>

#include "foundation/Utf8.h"

namespace velmarune {

ClipboardPaster::ClipboardPaster(Dependencies deps) : m_deps(std::move(deps)) {}

std::shared_ptr<ClipboardSnapshot> ClipboardPaster::takeSnapshot() {
    return ClipboardSnapshot::start(m_deps.pasteboard, m_deps.snapshotQueue, kSnapshotBudgetBytes);
}

std::shared_ptr<ClipboardSnapshot> ClipboardPaster::claimSnapshot() {
    std::shared_ptr<ClipboardSnapshot> snapshot;
    if (m_pending && m_pending->changeCount() == m_deps.pasteboard.changeCount()) {
        snapshot = std::move(m_pending);
    } else {
        if (m_pending) {
            m_pending->seal();
        }
        snapshot = takeSnapshot();
    }
    m_pending.reset();
    if (!snapshot->finished()) {
        snapshot->waitUntilDone(m_deps.claimWaitSeconds);
    }
    // From here on what it holds is what will be restored, finished or not.
    snapshot->seal();
    return snapshot;
}

void ClipboardPaster::prepare() {
    if (m_held) {
        // The pasteboard holds our own text; the held snapshot has the user's.
        return;
    }
    if (m_pending) {
        if (m_pending->changeCount() == m_deps.pasteboard.changeCount()) {
            return;
        }
        m_pending->seal();
    }
    m_pending = takeSnapshot();
}

void ClipboardPaster::insert(const std::string& text, bool diagnose,
                             std::shared_ptr<PasteObserver> observer) {
    std::optional<int64_t> pressID;
    if (diagnose && m_deps.recorder.currentPressID) {
        pressID = m_deps.recorder.currentPressID();
    } else if (!diagnose && m_deps.recorder.pasteWithoutPress) {
        m_deps.recorder.pasteWithoutPress(utf8Characters(text));
    }
    if (m_activePress && pressID != m_activePress && m_deps.recorder.pasteEnd) {
        m_deps.recorder.pasteEnd(*m_activePress, "superseded",
                                 m_reads.empty() ? "no read before next paste" : "pasted");
    }
    m_activePress = pressID;
    const int64_t generation = ++m_generation;
    ++m_restoreToken;

    // A second paste before the first was restored keeps the contents from
    // before the first.
    if (!m_held) {
        m_held = claimSnapshot();
    }
    if (pressID && m_deps.recorder.snapshot) {
        m_deps.recorder.snapshot(*pressID, m_held->finished() && m_held->skipped().empty(),
                                 m_held->description());
    }

    const int64_t changeCountBefore = m_deps.pasteboard.changeCount();
    std::weak_ptr<ClipboardPaster> weak = weak_from_this();
    m_provider = std::make_shared<PromiseProvider>(
        text,
        [weak, generation] {
            if (auto self = weak.lock()) {
                self->handleRead(generation);
            }
        },
        m_deps.clock);

    PasteboardItem item;
    item.provider = m_provider;
    item.promisedTypes = {m_deps.pasteboard.plainTextType()};
    item.data.emplace_back(kTransientPasteboardType, PasteboardBytes{});
    std::vector<PasteboardItem> items;
    items.push_back(std::move(item));
    m_deps.pasteboard.setItems(std::move(items));

    m_ourChangeCount = m_deps.pasteboard.changeCount();
    m_reads.clear();
    m_earlyReads = 0;
    m_cmdVAt.reset();
    m_firstReadObserver = observer;

    if (pressID && m_deps.recorder.pasteboardWrite) {
        m_deps.recorder.pasteboardWrite(*pressID, changeCountBefore, m_ourChangeCount);
    }

    m_deps.clock.postAfter(kKeystrokeDelaySeconds, [weak, diagnose, pressID, generation,
                                                    observer = std::move(observer)] {
        if (!weak.lock()) {
            return;
        }
        auto post = [weak, diagnose, pressID, generation, observer] {
            if (auto self = weak.lock()) {
                self->afterKeystroke(diagnose, pressID, generation, observer);
            }
        };
        if (observer) {
            observer->keystrokeDue(std::move(post));
        } else {
            post();
        }
    });
}

void ClipboardPaster::afterKeystroke(bool diagnose, std::optional<int64_t> pressID,
                                     int64_t generation,
                                     const std::shared_ptr<PasteObserver>& observer) {
    // Posted even when a newer paste has started: this text was promised.
    m_deps.paste();
    if (diagnose && pressID && m_deps.recorder.keystroke) {
        m_deps.recorder.keystroke(*pressID);
    }
    if (generation == m_generation) {
        m_cmdVAt = m_deps.clock.now();
    }
    if (observer) {
        observer->keystrokePosted();
    }
    if (generation != m_generation) {
        return;
    }
    scheduleRestore(generation);
    std::weak_ptr<ClipboardPaster> weak = weak_from_this();
    m_deps.clock.postAfter(kNoReadCheckSeconds, [weak, generation, observer] {
        if (auto self = weak.lock()) {
            self->noReadCheck(generation, observer);
        }
    });
}

void ClipboardPaster::handleRead(int64_t generation) {
    if (generation != m_generation) {
        return;
    }
    // A clipboard-history tool reads every new copy before the keystroke is
    // posted: a read, but not the target's, so it neither marks the paste as
    // done nor moves the restore.
    if (m_cmdVAt) {
        m_reads.push_back(m_deps.clock.now());
    } else {
        ++m_earlyReads;
    }
    if (m_activePress && m_deps.recorder.read) {
        m_deps.recorder.read(*m_activePress, static_cast<int64_t>(m_reads.size()) + m_earlyReads);
    }
    if (!m_cmdVAt) {
        return;
    }
    if (auto observer = std::exchange(m_firstReadObserver, nullptr)) {
        observer->firstRead();
    }
    // The callback may have started a newer paste.
    if (generation == m_generation) {
        scheduleRestore(generation);
    }
}

void ClipboardPaster::scheduleRestore(int64_t generation) {
    if (!m_cmdVAt) {
        return;
    }
    const int64_t token = ++m_restoreToken;
    TimePoint deadline = addSeconds(*m_cmdVAt, kRestoreWithoutReadSeconds);
    if (!m_reads.empty()) {
        deadline = addSeconds(std::max(*m_cmdVAt, m_reads.back()), kRestoreAfterReadSeconds);
    }
    const double delay = std::max(0.0, secondsBetween(m_deps.clock.now(), deadline));
    std::weak_ptr<ClipboardPaster> weak = weak_from_this();
    m_deps.clock.postAfter(delay, [weak, token, generation] {
        auto self = weak.lock();
        if (self && token == self->m_restoreToken && generation == self->m_generation) {
            self->finishRestore();
        }
    });
}

void ClipboardPaster::finishRestore() {
    std::string result;
    if (m_deps.pasteboard.changeCount() != m_ourChangeCount) {
        result = "kept newer copy";
    } else {
        if (m_held) {
            restore(*m_held);
        }
        result = m_reads.empty() ? "restored after no read" : "restored";
    }
    if (m_activePress && m_deps.recorder.pasteEnd) {
        m_deps.recorder.pasteEnd(*m_activePress, result, m_reads.empty() ? "no read" : "pasted");
    }
    m_held.reset();
    m_provider.reset();
    m_activePress.reset();
    m_firstReadObserver.reset();
}

void ClipboardPaster::restore(const ClipboardSnapshot& snapshot) {
    auto captured = snapshot.items();
    std::vector<PasteboardItem> items;
    for (auto& entries : captured) {
        if (entries.empty()) {
            continue;
        }
        // The capture ran in two passes; put the types back in the item's order.
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.typeIndex < b.typeIndex; });
        PasteboardItem item;
        bool marked = false;
        for (auto& entry : entries) {
            marked = marked || entry.type == kTransientPasteboardType;
            item.data.emplace_back(entry.type, std::move(entry.data));
        }
        if (!marked) {
            item.data.emplace_back(kTransientPasteboardType, PasteboardBytes{});
        }
        items.push_back(std::move(item));
    }
    // Cleared even when nothing comes back: the pasteboard was empty before.
    m_deps.pasteboard.setItems(std::move(items));
}

void ClipboardPaster::noReadCheck(int64_t generation,
                                  const std::shared_ptr<PasteObserver>& observer) {
    if (generation == m_generation && m_reads.empty() && m_held && observer) {
        observer->noRead();
    }
}

void ClipboardPaster::forget() {
    ++m_generation;
    ++m_restoreToken;
    m_held.reset();
    if (m_pending) {
        m_pending->seal();
        m_pending.reset();
    }
    m_provider.reset();
    m_activePress.reset();
    m_firstReadObserver.reset();
}

void ClipboardPaster::copy(const std::string& text) {
    forget();
    PasteboardItem item;
    item.data.emplace_back(m_deps.pasteboard.plainTextType(), text);
    std::vector<PasteboardItem> items;
    items.push_back(std::move(item));
    m_deps.pasteboard.setItems(std::move(items));
}

}  // namespace velmarune
