#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/UserDefaults.h"
#include "recognition/WhisperEngine.h"

namespace velmarune {

// Encode only the part of whisper's 30 s window that holds the dictation.
// Off by default: the models were trained on full windows.
inline constexpr const char* kFasterEncoderKey = "fasterEncoder";
inline constexpr const char* kFasterEncoderTitle = "Faster on slow computers; may be less accurate";
// Decode on the graphics card when the build has a GPU backend (on by
// default; read when the models load).
inline constexpr const char* kUseGpuKey = "useGPU";
inline constexpr const char* kUseGpuTitle = "Use the graphics card for speech recognition";

// The engine's name for a GPU backend this build has ("Vulkan", "CUDA"), or
// nothing: then the GPU switch would do nothing and is not offered.
std::optional<std::string> gpuBackendName();

// One switch of the Models tab over an engine setting.
struct EngineSwitch {
    const char* key;
    const char* label;
    const char* caption;
    bool fallback;  // its value when the settings file has none
    // Read only when the models load: a change reloads the engines. The
    // faster encoder is read at every decode and applies to the next one.
    bool reloadsEngines;

    bool isOn(const UserDefaults& defaults) const { return defaults.boolOr(key, fallback); }
    // Stores the choice and reloads the engines when they read it at load.
    // False when the settings file could not be written.
    bool set(UserDefaults& defaults, bool on, const std::function<void()>& reloadEngines) const {
        if (on == isOn(defaults)) {
            return true;
        }
        if (!defaults.setBool(key, on)) {
            return false;
        }
        if (reloadsEngines && reloadEngines) {
            reloadEngines();
        }
        return true;
    }
};

inline constexpr EngineSwitch kFasterEncoderSwitch{kFasterEncoderKey, "Faster encoder",
                                                   kFasterEncoderTitle, false, false};
inline constexpr EngineSwitch kUseGpuSwitch{
    kUseGpuKey, kUseGpuTitle, "The speech engines load again when this changes.", true, true};

// The switches this build offers, in the order shown.
inline std::vector<EngineSwitch> engineSwitches() {
    std::vector<EngineSwitch> switches{kFasterEncoderSwitch};
    if (gpuBackendName()) {
        switches.push_back(kUseGpuSwitch);
    }
    return switches;
}

// The engine options the settings ask for. `defaults` must outlive the
// engines: the faster-encoder setting is read at every decode, so a change
// applies to the next dictation.
inline WhisperEngine::Options engineOptionsFrom(const UserDefaults& defaults) {
    WhisperEngine::Options options;
    options.useGpu = kUseGpuSwitch.isOn(defaults);
    options.fasterEncoder = [&defaults] { return kFasterEncoderSwitch.isOn(defaults); };
    return options;
}

}  // namespace velmarune
