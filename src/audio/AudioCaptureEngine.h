#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audio/AudioRingBuffer.h"
#include "audio/BufferConverter.h"
#include "audio/CaptureSource.h"
#include "audio/CaptureStats.h"
#include "audio/MicMode.h"
#include "foundation/Log.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "platform/CaptureSession.h"

namespace velmarune {

inline constexpr const char* kSelectedAudioInputDeviceIDKey = "selectedAudioInputDeviceID";
inline constexpr const char* kAudioDeliveryQueueName = "com.quorin.velmarune.audio-delivery";

// Records the microphone continuously into the ring, converting every block
// to 16 kHz mono float on the way in. Started once at launch and kept running
// between dictations; start/stop/reconfigure are main-thread calls (run in
// order on the control queue in the application), blocks are handled on the
// delivery queue one at a time.
class AudioCaptureEngine : public CaptureSource {
  public:
    // Where start, stop, reconfigure and ring resets run. `ownThread` (the
    // application): queued in order on the engine's control queue, so the
    // main thread never waits on the audio server; `callerThread`: at once.
    enum class Control { callerThread, ownThread };

    AudioCaptureEngine(std::shared_ptr<AudioRingBuffer> ringBuffer, CaptureSession& session,
                       UserDefaults& defaults, Control control = Control::callerThread);
    ~AudioCaptureEngine() override;
    AudioCaptureEngine(const AudioCaptureEngine&) = delete;
    AudioCaptureEngine& operator=(const AudioCaptureEngine&) = delete;

    // Attaches the resolved device and starts capture, on the calling
    // thread. True at once when already running; false (with a log line)
    // when no stream could be opened.
    bool startSession();
    // Swaps the input to another device; the capture keeps running.
    void reconfigure(const std::string& deviceID);

    // The stored device if it still exists, else the server's default source.
    static std::optional<std::string> resolveDeviceID(CaptureSession& session,
                                                      const UserDefaults& defaults);

    // The active input's mode: voice isolation for a noise-suppression filter.
    MicMode micMode() override;

    const std::shared_ptr<AudioRingBuffer>& ringBuffer() const { return m_ringBuffer; }

    // CaptureSource
    RingTail ringTail(int64_t frames) override;
    void resetRing() override;
    CaptureStats statsSnapshot() const override;
    void start() override;
    void stop() override;
    void restart() override;
    void reselectInput() override;
    void setRecording(bool recording) override;
    bool isRunning() const override;
    std::optional<std::string> deviceName() const override;
    std::optional<std::string> deviceID() const override;
    void setOnBufferReceived(std::function<void()> callback) override;
    void setOnSamplesAppended(SamplesAppended callback) override;

  private:
    void control(std::function<void()> work);
    void stopSession();
    void setStream(std::unique_ptr<CaptureStream> stream);
    void closeStream();
    void reconfigureNow(const std::string& deviceID);
    void deliver(const CaptureBuffer& buffer);
    void appendConverted(const float* samples, size_t count);
    void setDevice(const CaptureDevice& device);

    std::shared_ptr<AudioRingBuffer> m_ringBuffer;
    CaptureSession& m_session;
    UserDefaults& m_defaults;
    Logger m_log{"AudioCaptureEngine"};
    SerialQueue m_deliveryQueue{kAudioDeliveryQueueName};

    // Set once at launch, before the first start; read on the delivery queue.
    std::function<void()> m_onBufferReceived;
    SamplesAppended m_onSamplesAppended;

    // Control work runs here when Control::ownThread; stopped first on destruction.
    std::unique_ptr<SerialQueue> m_controlQueue;
    mutable std::mutex m_streamLock;                     // m_stream's pointer, for isRunning
    std::unique_ptr<CaptureStream> m_stream;             // control work only
    CaptureLatency m_latency = CaptureLatency::relaxed;  // control work only
    bool m_recording = false;                            // caller's thread
    BufferConverter m_converter;                         // delivery queue only
    std::optional<CaptureFormat> m_unconvertibleFormat;  // delivery queue only

    mutable std::mutex m_statsLock;
    CaptureStats m_stats;

    mutable std::mutex m_deviceLock;
    std::optional<std::string> m_deviceName;
    std::optional<std::string> m_deviceID;
};

}  // namespace velmarune
