#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Time.h"

namespace velmarune {

// Whether a finished recording is worth transcribing.
enum class GateOutcome { pass, tap, noNewAudio, silentInput, silence };

// "pass", "tap", "no new audio", "silent input", "silence".
std::string gateOutcomeText(GateOutcome outcome);

struct SpeechGateInput {
    const std::vector<float>& samples;  // pre-roll followed by the press's audio
    int64_t buffersReceived = 0;        // buffers delivered since key-down
    int64_t prerollCount = 0;
    bool captureRestarted = false;  // the watchdog restarted capture during the press
    TimePoint keyDown;
    TimePoint now;
};

// Thresholds, in samples at 16 kHz and in absolute sample value.
inline constexpr int64_t kGateMinimumNewSamples = 4800;  // 300 ms
inline constexpr int64_t kGateDeadInputSamples = 16000;  // 1 s
inline constexpr float kGateDeadInputLevel = 0.001f;
inline constexpr double kGateSilenceMeanAbs = 0.0002;
inline constexpr double kGateNoAudioSeconds = 1.0;

GateOutcome speechGate(const SpeechGateInput& input);

// Mean absolute sample value; 0 for an empty recording.
double meanAbsolute(const std::vector<float>& samples);

}  // namespace velmarune
