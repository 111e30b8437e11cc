#pragma once

#include <mutex>

#include "audio/CaptureSource.h"

namespace velmarune {

// A capture engine for tests: the test delivers blocks itself (on its own
// thread, standing in for the audio-delivery queue) and inspects the calls.
class FakeCaptureSource : public CaptureSource {
  public:
    RingTail ringTail(int64_t frames) override;
    void resetRing() override;
    CaptureStats statsSnapshot() const override;
    void start() override;
    void stop() override;
    void restart() override;
    void reselectInput() override;
    // The test hands over blocks itself: there is no block length to change.
    void setRecording(bool) override {}
    MicMode micMode() override;
    bool isRunning() const override;
    std::optional<std::string> deviceName() const override;
    std::optional<std::string> deviceID() const override;
    void setOnBufferReceived(std::function<void()> callback) override;
    void setOnSamplesAppended(SamplesAppended callback) override;

    // Appends one block to the ring and runs both callbacks, as a delivered
    // and converted buffer would.
    void deliver(const std::vector<float>& block);
    // Delivers `seconds` of a constant-amplitude square wave in 10 ms blocks.
    void deliverTone(double seconds, float amplitude);
    // Fills the ring without callbacks (audio from before the press).
    void fillRing(const std::vector<float>& samples);

    void setDeviceName(std::optional<std::string> name);
    void setStats(const CaptureStats& stats);
    void setMicMode(MicMode mode);

    int startCount() const;
    int stopCount() const;
    int resetCount() const;
    int restartCount() const;
    int reselectCount() const;

  private:
    mutable std::mutex m_mutex;
    std::vector<float> m_ring;
    CaptureStats m_stats;
    bool m_running = false;
    int m_starts = 0;
    int m_stops = 0;
    int m_resets = 0;
    int m_restarts = 0;
    int m_reselects = 0;
    MicMode m_micMode = MicMode::standard;
    std::optional<std::string> m_deviceName{"Test Microphone"};
    std::function<void()> m_onBuffer;
    SamplesAppended m_onSamples;
};

}  // namespace velmarune
