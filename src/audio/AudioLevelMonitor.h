#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioInputDevice.h"
#include "audio/MicrophonePermission.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/Published.h"
#include "foundation/UserDefaults.h"
#include "platform/CaptureSession.h"

namespace velmarune {

class AudioCaptureEngine;

// The data behind the Audio settings tab: the input devices, the chosen one,
// a live level meter read from the capture ring, and the microphone
// permission. Records nothing itself. Main thread only.
class AudioLevelMonitor {
  public:
    enum class PermissionState { notDetermined, authorized, denied };

    // The audio server's sources as one answer.
    struct SourceListing {
        bool serverReachable = true;
        std::vector<CaptureDevice> devices;
        std::optional<std::string> defaultID;
    };
    // Asks for a listing; `done` runs on the main thread, at once or later.
    // The application asks the server on a worker thread, so that a server
    // that is slow to answer never holds the window.
    using SourceLister = std::function<void(std::function<void(SourceListing)> done)>;

    // `permissionStatus` answers the platform's current authorisation; an
    // absent answer (an unknown state) counts as denied. Without the function
    // a reachable server with a source counts as authorised. Without a
    // `lister` the session is asked directly.
    AudioLevelMonitor(MainQueue& mainQueue, CaptureSession& session, UserDefaults& defaults,
                      std::function<std::optional<MicrophonePermission::Status>()> permissionStatus,
                      SourceLister lister = {});
    ~AudioLevelMonitor();
    AudioLevelMonitor(const AudioLevelMonitor&) = delete;
    AudioLevelMonitor& operator=(const AudioLevelMonitor&) = delete;

    static constexpr int64_t kRmsFrameCount = 1600;  // 100 ms at 16 kHz
    static constexpr double kMeterIntervalSeconds = 1.0 / 30.0;
    static constexpr float kSilentDb = -160.0f;

    void setCaptureEngine(AudioCaptureEngine* engine) { m_captureEngine = engine; }

    void start();
    void stop();
    // Enumerates and applies the fallback for a selected device that vanished.
    // Also run on every change the server reports while started, its
    // restarts included.
    void refreshDevices();
    // The user picked a device.
    void select(const std::string& deviceID);

    // One meter reading from the newest 100 ms of the ring.
    void readMeter();

    static PermissionState permissionStateFor(std::optional<MicrophonePermission::Status> status);
    // (dB, level) of a block, as the meter shows it.
    static std::pair<float, float> meterReading(const std::vector<float>& samples);

    Published<std::vector<AudioInputDevice>>& availableDevices() { return m_availableDevices; }
    Published<std::optional<std::string>>& selectedDeviceID() { return m_selectedDeviceID; }
    Published<float>& peakLevel() { return m_peakLevel; }
    Published<float>& peakDb() { return m_peakDb; }
    Published<PermissionState>& permissionState() { return m_permissionState; }
    Published<std::optional<std::string>>& deviceFallbackReason() { return m_deviceFallbackReason; }
    const std::vector<AudioInputDevice>& devicesNow() const { return m_availableDevices.get(); }
    const std::optional<std::string>& selectedNow() const { return m_selectedDeviceID.get(); }
    float levelNow() const { return m_peakLevel.get(); }
    float dbNow() const { return m_peakDb.get(); }
    PermissionState permissionNow() const { return m_permissionState.get(); }
    const std::optional<std::string>& fallbackNow() const { return m_deviceFallbackReason.get(); }

  private:
    void requestListing(std::function<void(AudioLevelMonitor&, const SourceListing&)> then);
    void enumerate(const SourceListing& listing);
    void applyFallback();
    void loadSelection();
    void updatePermission(const SourceListing& listing);
    void startMeter();
    void stopMeter();
    void startObserving();
    void scheduleTick(uint64_t generation);

    MainQueue& m_mainQueue;
    CaptureSession& m_session;
    UserDefaults& m_defaults;
    std::function<std::optional<MicrophonePermission::Status>()> m_permissionStatus;
    SourceLister m_lister;

    Published<std::vector<AudioInputDevice>> m_availableDevices;
    Published<std::optional<std::string>> m_selectedDeviceID;
    Published<float> m_peakLevel{0.0f};
    Published<float> m_peakDb{kSilentDb};
    Published<PermissionState> m_permissionState{PermissionState::notDetermined};
    Published<std::optional<std::string>> m_deviceFallbackReason;

    AudioCaptureEngine* m_captureEngine = nullptr;
    bool m_started = false;
    uint64_t m_listingGeneration = 0;  // only the newest answer is applied
    bool m_timerRunning = false;
    uint64_t m_timerGeneration = 0;
    Subscription m_deviceObserver;
    Logger m_log{"AudioLevelMonitor"};
    // Delayed ticks and server events hold this weakly: a monitor that is gone
    // is never touched.
    std::shared_ptr<AudioLevelMonitor*> m_self;
};

}  // namespace velmarune
