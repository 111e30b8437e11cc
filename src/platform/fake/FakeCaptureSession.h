#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CaptureSession.h"

namespace velmarune {

// A scriptable audio server for tests: a device list, a default source, and
// streams the test feeds block by block. Deliveries wait until the block has
// been handled on the delivery queue, so tests observe results without sleeping.
class FakeCaptureSession : public CaptureSession {
  public:
    void setDevices(std::vector<CaptureDevice> devices);
    void setDefaultDeviceID(std::optional<std::string> id);
    // The next openStream calls fail with this text (empty: they succeed).
    void setOpenError(std::string error);

    std::vector<CaptureDevice> devices() override;
    std::optional<std::string> defaultDeviceID() override;
    std::optional<CaptureDevice> device(const std::string& id) override;
    std::unique_ptr<CaptureStream> openStream(const std::string& deviceID,
                                              SerialQueue& deliveryQueue, BufferHandler handler,
                                              std::string& error) override;
    Subscription subscribe(EventHandler handler) override;

    // Hands one block to the open stream, if any; returns false when none is open.
    bool deliver(const CaptureBuffer& buffer);
    // Interleaved samples of any readable type, cut into blocks of `blockFrames`.
    bool deliverFloats(const std::vector<float>& interleaved, double sampleRateHz,
                       uint32_t channels, int64_t blockFrames);
    bool deliverInt16(const std::vector<int16_t>& interleaved, double sampleRateHz,
                      uint32_t channels, int64_t blockFrames);
    // Reads an audio file at its own rate and channel count (float32) and
    // replays it in blocks. Returns false when the file cannot be read.
    bool replayFile(const std::filesystem::path& file, int64_t blockFrames);

    // The server ends the open stream (device unplugged, server gone).
    void endStream();
    // Calls the subscribers on the calling thread (the test's main thread).
    void emit(const CaptureSessionEvent& event);

    // Device ids of every stream opened so far, in order.
    std::vector<std::string> openedDeviceIDs() const;
    bool hasOpenStream() const;
    // What the open stream was last asked for; none without one.
    std::optional<CaptureLatency> latency() const;

  private:
    struct StreamState {
        std::mutex mutex;
        SerialQueue* queue = nullptr;
        BufferHandler handler;
        bool running = true;
        CaptureLatency latency = CaptureLatency::relaxed;
    };
    class Stream;

    mutable std::mutex m_mutex;
    std::vector<CaptureDevice> m_devices;
    std::optional<std::string> m_defaultID;
    std::string m_openError;
    std::vector<std::string> m_opened;
    std::shared_ptr<StreamState> m_current;
    uint64_t m_nextSubscriber = 0;
    std::shared_ptr<std::map<uint64_t, EventHandler>> m_subscribers =
        std::make_shared<std::map<uint64_t, EventHandler>>();
};

}  // namespace velmarune
