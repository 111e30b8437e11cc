#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "delivery/ClipboardSnapshot.h"
#include "delivery/PasteRecorder.h"
#include "delivery/PromiseProvider.h"
#include "delivery/TextDelivery.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "platform/Pasteboard.h"

namespace velmarune {

// Name of the serial queue the shell gives the paster for its snapshots.
inline constexpr const char* kClipboardSnapshotQueueName =
    "com.quorin.velmarune.clipboard-snapshot";

// Puts a transcript on the pasteboard as a promise, posts the paste keystroke,
// watches the target read it and then puts back what the pasteboard held
// before, unless something newer was copied meanwhile. Main thread only.
class ClipboardPaster : public TextDelivery, public std::enable_shared_from_this<ClipboardPaster> {
  public:
    static constexpr int64_t kSnapshotBudgetBytes = 20971520;
    static constexpr double kClaimWaitSeconds = 0.15;
    static constexpr double kKeystrokeDelaySeconds = 0.03;
    static constexpr double kNoReadCheckSeconds = 1.5;
    static constexpr double kRestoreAfterReadSeconds = 1.0;
    static constexpr double kRestoreWithoutReadSeconds = 5.0;

    struct Dependencies {
        Pasteboard& pasteboard;
        MainQueue& clock;
        Executor& snapshotQueue;      // serial, kClipboardSnapshotQueueName in the product
        std::function<void()> paste;  // posts the paste keystroke
        PasteRecorder recorder;       // empty in builds and tests that record nothing
        // Longest the paste waits for an unfinished snapshot.
        double claimWaitSeconds = kClaimWaitSeconds;
    };

    explicit ClipboardPaster(Dependencies deps);

    // TextDelivery. The observer's keystrokeDue comes 0.03 s after the write;
    // keystrokePosted always follows the keystroke, firstRead and noRead only
    // while the paste is the current one.
    void insert(const std::string& text, bool diagnose,
                std::shared_ptr<PasteObserver> observer) override;
    // Starts a snapshot ahead of a paste, unless one is held or still fresh.
    void prepare() override;
    // Abandons the paste in progress without restoring anything.
    void forget();
    // The heads-up display's Copy: abandons the paste in progress and leaves
    // the text on the pasteboard as an ordinary copy (no transient marker,
    // so clipboard-history tools keep it).
    void copy(const std::string& text);

    // Observers for tests and the HUD.
    int64_t generation() const { return m_generation; }
    size_t readCount() const { return m_reads.size(); }
    bool holdsSnapshot() const { return m_held != nullptr; }
    bool hasPendingSnapshot() const { return m_pending != nullptr; }

  private:
    std::shared_ptr<ClipboardSnapshot> takeSnapshot();
    std::shared_ptr<ClipboardSnapshot> claimSnapshot();
    void afterKeystroke(bool diagnose, std::optional<int64_t> pressID, int64_t generation,
                        const std::shared_ptr<PasteObserver>& observer);
    void handleRead(int64_t generation);
    void scheduleRestore(int64_t generation);
    void finishRestore();
    void restore(const ClipboardSnapshot& snapshot);
    void noReadCheck(int64_t generation, const std::shared_ptr<PasteObserver>& observer);

    Dependencies m_deps;
    std::shared_ptr<ClipboardSnapshot> m_held;
    std::shared_ptr<ClipboardSnapshot> m_pending;
    int64_t m_generation = 0;
    int64_t m_restoreToken = 0;
    int64_t m_ourChangeCount = 0;
    std::shared_ptr<PromiseProvider> m_provider;
    std::optional<TimePoint> m_cmdVAt;
    std::vector<TimePoint> m_reads;  // the target's: after the keystroke
    int64_t m_earlyReads = 0;
    // The diagnostic press of the paste in progress; absent when not recorded.
    std::optional<int64_t> m_activePress;
    // Told of the first read after the keystroke, then dropped.
    std::shared_ptr<PasteObserver> m_firstReadObserver;
};

}  // namespace velmarune
