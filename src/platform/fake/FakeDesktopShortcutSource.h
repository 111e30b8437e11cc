#pragma once

#include <optional>

#include "platform/DesktopShortcutSource.h"

namespace velmarune {

// Serves fixed desktop shortcut settings (or none) and counts the reads.
class FakeDesktopShortcutSource : public DesktopShortcutSource {
  public:
    std::optional<DesktopShortcutText> text;
    int reads = 0;

    std::optional<DesktopShortcutText> read() override {
        ++reads;
        return text;
    }
};

}  // namespace velmarune
