#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velmarune {

// What whoever asked for a paste learns about it. Every call runs on the
// main thread; a step the observer does not override is ignored.
class PasteObserver {
  public:
    virtual ~PasteObserver() = default;
    // The keystroke is due. `post` sends it (once); an observer that must
    // not paste yet (keys held) keeps it and calls it later.
    virtual void keystrokeDue(std::function<void()> post) { post(); }
    // The paste keystroke has been posted.
    virtual void keystrokePosted() {}
    // The first read of the text after the keystroke.
    virtual void firstRead() {}
    // Nothing read the text in time; the paste is still the current one.
    virtual void noRead() {}
};

// Puts text into the focused window through the clipboard. Main thread only.
class TextDelivery {
  public:
    virtual ~TextDelivery() = default;
    // Starts copying the clipboard in the background, ahead of a paste.
    virtual void prepare() = 0;
    // Pastes `text`. `diagnose` records the steps in the press's diagnostic
    // record. `observer` (may be null) is kept until its paste has ended.
    virtual void insert(const std::string& text, bool diagnose,
                        std::shared_ptr<PasteObserver> observer) = 0;
};

}  // namespace velmarune
