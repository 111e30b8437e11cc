#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Published.h"

namespace velmarune {

class SerialQueue;

// Sample layout of one delivered block.
enum class CaptureSampleType { float32, float64, int16, int32, other };

struct CaptureFormat {
    double sampleRateHz = 0;
    uint32_t channels = 0;
    CaptureSampleType sampleType = CaptureSampleType::other;
    bool interleaved = true;

    bool operator==(const CaptureFormat&) const = default;
};

// One block of microphone audio as the device delivered it. `format` is absent
// when the backend could not describe the block. `data` holds `frames` frames
// (interleaved when the format says so, otherwise one plane per channel after
// the other); it is valid only during the delivery call.
struct CaptureBuffer {
    std::optional<CaptureFormat> format;
    const void* data = nullptr;
    size_t byteCount = 0;
    int64_t frames = 0;
};

// An input device as the audio server lists it.
struct CaptureDevice {
    std::string id;    // unique, stable while the device exists (PulseAudio: the source name)
    std::string name;  // display name (PulseAudio: the description)
    bool isNoiseSuppressionFilter = false;

    bool operator==(const CaptureDevice&) const = default;
};

// What happened on the audio server. Later layers turn these into capture
// restarts and device re-enumeration.
struct CaptureSessionEvent {
    enum class Kind {
        sourceAdded,
        sourceRemoved,
        defaultSourceChanged,
        streamFailed,
        serverDisconnected,
        serverConnected
    };
    Kind kind;
    std::string detail;  // source id, or the failure's text
};

// How soon the server hands over what the microphone heard. A recording
// needs each block within about 20 ms (a key release takes what has arrived
// by then); the always-on pre-roll is as good with blocks of 100 ms, which
// wake the process five times less often.
enum class CaptureLatency { relaxed, prompt };

// A running record stream; destroying it (or close()) stops delivery. After
// close() returns no further block is handed to the queue. Streams open
// relaxed.
class CaptureStream {
  public:
    virtual ~CaptureStream() = default;
    virtual void close() = 0;
    // Audio already heard but not yet handed over is delivered, never dropped.
    virtual void setLatency(CaptureLatency latency) = 0;
    // False once the server ended the stream (device gone, server died).
    virtual bool isRunning() const = 0;
};

// The audio server seen from the capture engine and the device list.
// Queries may be called from any thread and wait a bounded time.
class CaptureSession {
  public:
    using BufferHandler = std::function<void(const CaptureBuffer&)>;
    using EventHandler = std::function<void(const CaptureSessionEvent&)>;

    virtual ~CaptureSession() = default;

    // Capture sources in the server's order (monitors of outputs excluded).
    virtual std::vector<CaptureDevice> devices() = 0;
    virtual std::optional<std::string> defaultDeviceID() = 0;
    virtual std::optional<CaptureDevice> device(const std::string& id) = 0;

    // Opens a record stream on the device in its own sample format. `handler`
    // runs on `deliveryQueue`, once per block, in order. Returns null and sets
    // `error` when the stream cannot be opened.
    virtual std::unique_ptr<CaptureStream> openStream(const std::string& deviceID,
                                                      SerialQueue& deliveryQueue,
                                                      BufferHandler handler,
                                                      std::string& error) = 0;

    // Server events, delivered on the main queue the backend was given.
    [[nodiscard]] virtual Subscription subscribe(EventHandler handler) = 0;
};

}  // namespace velmarune
