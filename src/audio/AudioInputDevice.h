#pragma once

#include <string>

namespace velmarune {

// An input device as the Audio settings tab lists it.
struct AudioInputDevice {
    std::string id;  // what "selectedAudioInputDeviceID" stores
    std::string name;
    bool isDefault = false;

    bool operator==(const AudioInputDevice&) const = default;
};

}  // namespace velmarune
