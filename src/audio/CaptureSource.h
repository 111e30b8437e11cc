#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/CaptureStats.h"
#include "audio/MicMode.h"

namespace velmarune {

// The pre-roll and the ring position it ends at.
struct RingTail {
    std::vector<float> samples;
    // The running index just past the last sample: a recording that starts
    // here continues the pre-roll without a gap or an overlap.
    int64_t endFrame = 0;
};

// What the dictation pipeline needs of the always-on capture engine.
// Main-thread calls unless stated.
class CaptureSource {
  public:
    // A converted block just appended to the ring, and the running index of
    // its first sample (valid during the call).
    using SamplesAppended =
        std::function<void(const float* samples, size_t count, int64_t firstFrame)>;

    virtual ~CaptureSource() = default;

    // Under the ring's lock: reads the frames written so far (T) and returns
    // the samples since max(0, T - frames), with T.
    virtual RingTail ringTail(int64_t frames) = 0;
    virtual void resetRing() = 0;
    // A copy of the statistics taken under their lock; any thread.
    virtual CaptureStats statsSnapshot() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    // Stops and starts again on the same input (a session that went quiet).
    virtual void restart() = 0;
    // Chooses the input again (the stored device, else the default) and
    // captures from it (an input that delivers only silence).
    virtual void reselectInput() = 0;
    // True while a dictation records: the input then delivers promptly, so
    // a release loses nothing still on its way; between dictations it
    // delivers in larger, cheaper blocks. Repeating a value does nothing.
    virtual void setRecording(bool recording) = 0;
    // The active input's microphone mode.
    virtual MicMode micMode() = 0;
    virtual bool isRunning() const = 0;
    virtual std::optional<std::string> deviceName() const = 0;
    virtual std::optional<std::string> deviceID() const = 0;

    // Both callbacks run on the audio-delivery queue: once per buffer appended
    // to the ring, and with the block just appended (valid during the call).
    virtual void setOnBufferReceived(std::function<void()> callback) = 0;
    virtual void setOnSamplesAppended(SamplesAppended callback) = 0;
};

}  // namespace velmarune
