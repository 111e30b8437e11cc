#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "delivery/DidntPastePrompt.h"

namespace velmarune {

// Draws the "Didn't paste" panel: a floating panel that never takes the
// keyboard focus. Main thread only.
class DidntPastePresenter {
  public:
    virtual ~DidntPastePresenter() = default;
    // Shows a new panel listing `prompts`; its buttons call `paste` with the
    // row index and `close`.
    virtual void show(const std::vector<DidntPastePrompt>& prompts,
                      std::function<void(size_t index)> paste, std::function<void()> close) = 0;
    // Orders the showing panel out and drops it.
    virtual void hide() = 0;
};

}  // namespace velmarune
