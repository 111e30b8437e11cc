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

// What the dictation pipeline needs of the always-on capture engine.
// Main-thread calls unless stated.
class CaptureSource {
  public:
    virtual ~CaptureSource() = default;

    // Under the ring's lock: reads the frames written so far (T) and returns
    // the samples since max(0, T - frames).
    virtual std::vector<float> ringTail(int64_t frames) = 0;
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
    // The active input's microphone mode.
    virtual MicMode micMode() = 0;
    virtual bool isRunning() const = 0;
    virtual std::optional<std::string> deviceName() const = 0;
    virtual std::optional<std::string> deviceID() const = 0;

    // Both callbacks run on the audio-delivery queue: once per buffer appended
    // to the ring, and with the block just appended (valid during the call).
    virtual void setOnBufferReceived(std::function<void()> callback) = 0;
    virtual void setOnSamplesAppended(std::function<void(const float*, size_t)> callback) = 0;
};

}  // namespace velmarune
