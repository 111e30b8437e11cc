#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "delivery/RecentDictations.h"
#include "foundation/MainQueue.h"

namespace velmarune {

// Pastes a recent dictation again: from the global shortcut once its
// modifiers are up, or from the status menu. Main thread only.
class PasteLastDictation : public std::enable_shared_from_this<PasteLastDictation> {
  public:
    static constexpr double kCheckIntervalSeconds = 0.02;
    static constexpr int kMaxChecks = 50;  // 1.0 s of waiting for released keys
    static constexpr double kMenuDelaySeconds = 0.15;
    static constexpr const char* kEmptyNotice = "Nothing to paste. Recent Dictations is empty.";

    struct Dependencies {
        std::shared_ptr<RecentDictations> store;
        // Pastes through the clipboard paster; the closure runs at the first read.
        std::function<void(const std::string& text, std::function<void()> onFirstRead)> insert;
        std::function<void(int64_t entryID)> windowPasted;
        std::function<void(const std::string& message)> notice;
        std::function<bool()> modifiersHeld;
        MainQueue& clock;
        std::function<void()> cancelPress;
    };

    explicit PasteLastDictation(Dependencies deps) : m_deps(std::move(deps)) {}

    // The global shortcut's action.
    void perform();
    // The status menu: the newest entry (none) or a chosen one.
    void paste(std::optional<int64_t> entryID);

  private:
    void waitForKeys(RecentDictations::Entry entry, int checks);
    void pasteNow(const RecentDictations::Entry& entry);

    Dependencies m_deps;
};

}  // namespace velmarune
