#pragma once

#include <cstdint>

namespace velmarune {

// The keyboard's modifier state in the stored flag layout (Shift 0x20000,
// Control 0x40000, Option = Alt 0x80000, Command = Super 0x100000).
class ModifierState {
  public:
    virtual ~ModifierState() = default;
    // Any thread. Logical state, synthetic keys included.
    virtual uint64_t combinedFlags() = 0;
    // Any thread. Keys physically down.
    virtual uint64_t hardwareFlags() = 0;
};

}  // namespace velmarune
