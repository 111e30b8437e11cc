#pragma once

#include <string>

namespace velmarune {

// The heads-up display as the core uses it. Main thread only.
class DictationDisplay {
  public:
    static constexpr double kTranscriptSeconds = 1.5;

    virtual ~DictationDisplay() = default;
    // A short notice (a refused dictation, nothing to paste), shown for
    // `seconds`.
    virtual void showNotice(const std::string& text, double seconds) = 0;
    // The text just pasted, shown for kTranscriptSeconds.
    virtual void showTranscript(const std::string& text) = 0;
};

}  // namespace velmarune
