#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/MainQueue.h"
#include "foundation/Published.h"
#include "platform/SessionEvents.h"

namespace velmarune {

// The last few transcripts, in memory only, for ten minutes, so that a paste
// that missed can be repeated. Cleared when the session locks or sleeps.
// Main thread only.
class RecentDictations : public std::enable_shared_from_this<RecentDictations> {
  public:
    static constexpr size_t kCapacity = 5;
    static constexpr double kRetentionSeconds = 600.0;
    static constexpr size_t kTitleWords = 6;
    static constexpr size_t kTitleCharacters = 40;

    struct Entry {
        int64_t id = 0;
        std::string text;  // exactly as dictated
        TimePoint dictatedAt;
        bool operator==(const Entry&) const = default;
    };

    explicit RecentDictations(MainQueue& clock) : m_clock(clock) {}

    // Clears the list on screen lock, display sleep and system sleep.
    void observe(SessionEvents& events);

    // Stores a non-blank transcript; returns its id.
    std::optional<int64_t> add(const std::string& text);
    void clear(const std::string& reason);

    const std::vector<Entry>& entries() const { return m_entries; }
    std::optional<Entry> newest() const;
    std::optional<Entry> entry(int64_t id) const;

    // At most 6 words and 40 characters, then "…".
    static std::string menuTitle(const std::string& text);

    std::function<void()> onChange;
    std::function<void(const std::string& reason)> onSessionEnded;

  private:
    void expire();

    MainQueue& m_clock;
    std::vector<Entry> m_entries;
    int64_t m_nextID = 1;
    Subscription m_observation;
};

}  // namespace velmarune
