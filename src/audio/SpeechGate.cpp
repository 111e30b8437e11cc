#include "audio/SpeechGate.h"

#include <algorithm>
#include <cmath>

namespace velmarune {

std::string gateOutcomeText(GateOutcome outcome) {
    switch (outcome) {
        case GateOutcome::pass:
            return "pass";
        case GateOutcome::tap:
            return "tap";
        case GateOutcome::noNewAudio:
            return "no new audio";
        case GateOutcome::silentInput:
            return "silent input";
        case GateOutcome::silence:
            return "silence";
    }
    return "pass";
}

double meanAbsolute(const std::vector<float>& samples) {
    if (samples.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (float s : samples) {
        sum += std::fabs(s);
    }
    return sum / static_cast<double>(samples.size());
}

GateOutcome speechGate(const SpeechGateInput& input) {
    if (input.buffersReceived == 0) {
        // Nothing arrived: a short press is just a tap, a long one (or one
        // that needed a capture restart) means the input is not delivering.
        if (input.captureRestarted ||
            secondsBetween(input.keyDown, input.now) >= kGateNoAudioSeconds) {
            return GateOutcome::noNewAudio;
        }
        return GateOutcome::tap;
    }
    const int64_t total = static_cast<int64_t>(input.samples.size());
    const int64_t preroll = std::clamp<int64_t>(input.prerollCount, 0, total);
    const int64_t newSamples = total - preroll;
    if (newSamples < kGateMinimumNewSamples) {
        return GateOutcome::tap;
    }
    if (newSamples >= kGateDeadInputSamples) {
        bool dead = true;
        for (int64_t i = preroll; i < total && dead; ++i) {
            dead = std::fabs(input.samples[static_cast<size_t>(i)]) < kGateDeadInputLevel;
        }
        if (dead) {
            return GateOutcome::silentInput;
        }
    }
    if (input.samples.empty() || meanAbsolute(input.samples) < kGateSilenceMeanAbs) {
        return GateOutcome::silence;
    }
    return GateOutcome::pass;
}

}  // namespace velmarune
