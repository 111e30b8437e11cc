#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Task.h"
#include "platform/Pasteboard.h"

namespace velmarune {

// A copy of the pasteboard's contents taken on the snapshot queue, shared
// with the main thread only through its lock, its sealed flag and `done`.
class ClipboardSnapshot {
  public:
    struct Entry {
        int64_t typeIndex = 0;  // position in the item's own type list
        std::string type;
        PasteboardBytes data;
    };
    using Items = std::vector<std::vector<Entry>>;

    explicit ClipboardSnapshot(int64_t changeCount) : m_changeCount(changeCount) {}

    // Creates a snapshot at the pasteboard's current change count and queues
    // its capture on `queue`. Returns at once.
    static std::shared_ptr<ClipboardSnapshot> start(Pasteboard& pasteboard, Executor& queue,
                                                    int64_t budgetBytes);

    // The capture worker. Preferred types first, whatever their size; the
    // rest only while the total stays within the budget.
    void capture(Pasteboard& pasteboard, int64_t budgetBytes);

    // Waits up to `seconds` for the capture to end; any number may wait.
    bool waitUntilDone(double seconds);
    // Stops the capture: nothing more is stored from now on.
    void seal();

    int64_t changeCount() const { return m_changeCount; }
    bool finished() const;
    bool sealed() const;
    Items items() const;
    std::vector<std::string> skipped() const;
    int64_t bytes() const;
    // Skipped representations and "incomplete" if capture did not finish,
    // joined with spaces; empty when nothing is missing.
    std::string description() const;

  private:
    void finish();

    const int64_t m_changeCount;
    mutable std::mutex m_mutex;
    // `done`: a condition rather than a semaphore, whose timed wait polls in
    // coarse steps in this standard library.
    std::condition_variable m_done;
    Items m_items;
    std::vector<std::string> m_skipped;
    int64_t m_bytes = 0;
    bool m_sealed = false;
    bool m_finished = false;
};

}  // namespace velmarune
