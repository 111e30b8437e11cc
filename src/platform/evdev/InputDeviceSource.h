#pragma once

#include <string>
#include <vector>

namespace velmarune {

// One keyboard to listen to: a descriptor that yields struct input_event
// records (an evdev node, or a recorded stream), owned by whoever takes it.
struct InputDevice {
    int fd = -1;
    std::string name;  // for the log
    std::string node;  // the path it was opened from
};

// Where the keyboards come from: the system's input devices, or injected ones.
// Called on the listener's thread only.
class InputDeviceSource {
  public:
    virtual ~InputDeviceSource() = default;
    // The keyboards present now, opened read-only and non-blocking (never
    // grabbed). Sets `problem` to an explanation in plain words when
    // keyboards exist that cannot be read, or none can be looked for.
    virtual std::vector<InputDevice> openKeyboards(std::string& problem) = 0;
    // Readable when keyboards may have been added since the first call; -1
    // when none come later.
    virtual int changesFd() = 0;
    // After changesFd() was readable: the keyboards that appeared, opened.
    // A device that goes away is noticed on its own descriptor.
    virtual std::vector<InputDevice> takeAdded() = 0;
};

}  // namespace velmarune
