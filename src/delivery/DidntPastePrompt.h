#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace velmarune {

// A transcript that did not land, offered again to the user.
struct DidntPastePrompt {
    std::string text;
    std::optional<int64_t> entryID;  // its id in recent dictations, when it has one
    std::function<void()> onPaste;   // main thread: the user pressed "Paste"
    std::function<void()> onClose;   // main thread: the user closed the panel
};

}  // namespace velmarune
