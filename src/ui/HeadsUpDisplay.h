#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/MainQueue.h"

namespace velmarune {

// The heads-up display's rules: one short text at a time for a fixed time,
// optionally with a Copy button; a newer text replaces the shown one at once.
// Fades are skipped when the desktop has animations turned off.
class HeadsUpDisplay : public std::enable_shared_from_this<HeadsUpDisplay> {
  public:
    static constexpr double kTranscriptSeconds = 1.5;  // a pasted transcript, with Copy
    static constexpr double kMessageSeconds = 5.0;     // an error from the dictation flow
    static constexpr double kNoticeSeconds = 3.0;      // Paste Last Dictation's notices
    static constexpr double kFadeInSeconds = 0.15;
    static constexpr double kFadeOutSeconds = 0.12;

    struct Content {
        std::string text;
        bool showsCopy = false;
        bool operator==(const Content&) const = default;
    };

    // Draws the display. Main thread.
    class View {
      public:
        virtual ~View() = default;
        // Replaces whatever is shown; fades in over `fadeSeconds` (0: at once).
        virtual void present(const Content& content, double fadeSeconds) = 0;
        virtual void remove(double fadeSeconds) = 0;
    };

    struct Dependencies {
        MainQueue& queue;
        View& view;
        std::function<bool()> animationsEnabled;
        // The Copy button: leaves the text on the clipboard as a user's copy.
        std::function<void(const std::string& text)> copy;
    };

    explicit HeadsUpDisplay(Dependencies deps) : m_deps(std::move(deps)) {}

    // Any thread: the work runs on the main queue.
    void show(std::string text, bool showsCopy, double durationSeconds);
    void dismiss();

    // Main thread: the view's Copy button and close.
    void copy();
    void dismissNow();

    const std::optional<Content>& current() const { return m_current; }

  private:
    void showNow(Content content, double durationSeconds);
    double fade(double seconds) const;

    Dependencies m_deps;
    std::optional<Content> m_current;
    uint64_t m_generation = 0;  // the timer of an older show does nothing
};

}  // namespace velmarune
