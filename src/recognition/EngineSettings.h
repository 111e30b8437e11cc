#pragma once

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

// The engine options the settings ask for. `defaults` must outlive the
// engines: the faster-encoder setting is read at every decode, so a change
// applies to the next dictation.
inline WhisperEngine::Options engineOptionsFrom(const UserDefaults& defaults) {
    WhisperEngine::Options options;
    options.useGpu = defaults.boolOr(kUseGpuKey, true);
    options.fasterEncoder = [&defaults] { return defaults.boolOr(kFasterEncoderKey, false); };
    return options;
}

}  // namespace velmarune
