#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "delivery/DictationDisplay.h"
#include "delivery/DidntPastePrompts.h"
#include "delivery/RecentDictations.h"
#include "delivery/TextDelivery.h"
#include "foundation/MainQueue.h"
#include "platform/ModifierState.h"

namespace velmarune {

// Pastes a recent dictation again: from the global shortcut once its
// modifiers are up, or from the status menu. Main thread only.
class PasteLastDictation : public std::enable_shared_from_this<PasteLastDictation> {
  public:
    static constexpr double kCheckIntervalSeconds = 0.02;
    static constexpr int kMaxChecks = 50;  // 1.0 s of waiting for released keys
    static constexpr double kMenuDelaySeconds = 0.15;
    static constexpr double kNoticeSeconds = 3.0;
    static constexpr const char* kEmptyNotice = "Nothing to paste. Recent Dictations is empty.";

    struct Dependencies {
        std::shared_ptr<RecentDictations> store;
        TextDelivery& delivery;      // pastes without a diagnostic record
        DidntPastePrompts& prompts;  // told when an entry has been pasted
        DictationDisplay& display;   // the "nothing to paste" notice
        ModifierState& keys;
        MainQueue& clock;
        std::function<void()> cancelPress;  // the pipeline's cancelForPasteLast
    };

    explicit PasteLastDictation(Dependencies deps) : m_deps(std::move(deps)) {}

    // The global shortcut's action.
    void perform();
    // The status menu: the newest entry (none) or a chosen one.
    void paste(std::optional<int64_t> entryID);

  private:
    bool modifiersHeld();
    void waitForKeys(RecentDictations::Entry entry, int checks);
    void pasteNow(const RecentDictations::Entry& entry, bool tellPrompts);

    Dependencies m_deps;
};

}  // namespace velmarune
