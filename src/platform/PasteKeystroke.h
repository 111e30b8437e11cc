#pragma once

namespace velmarune {

// Posts the synthetic paste keystroke to the focused window.
class PasteKeystroke {
  public:
    virtual ~PasteKeystroke() = default;
    // Main thread. False when the events could not be made; nothing was posted.
    virtual bool post() = 0;
};

}  // namespace velmarune
