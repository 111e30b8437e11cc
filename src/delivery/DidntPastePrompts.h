#pragma once

#include <cstdint>
#include <vector>

#include "delivery/DidntPastePrompt.h"

namespace velmarune {

// The didn't-paste prompt as dictation and Paste Last Dictation use it.
// Main thread only.
class DidntPastePrompts {
  public:
    virtual ~DidntPastePrompts() = default;
    // Offers a transcript that did not land.
    virtual void show(DidntPastePrompt prompt) = 0;
    // Closes the prompt window; returns the prompts it showed.
    virtual std::vector<DidntPastePrompt> dismiss() = 0;
    // Shows prompts that a cancelled press had closed.
    virtual void restore(std::vector<DidntPastePrompt> prompts) = 0;
    // The recent dictation `entryID` was pasted by other means.
    virtual void windowPasted(int64_t entryID) = 0;
};

}  // namespace velmarune
