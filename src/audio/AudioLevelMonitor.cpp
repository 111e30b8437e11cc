#include "audio/AudioLevelMonitor.h"

#include <algorithm>
#include <cmath>

#include "audio/AudioCaptureEngine.h"

namespace velmarune {

AudioLevelMonitor::AudioLevelMonitor(
    MainQueue& mainQueue, CaptureSession& session, UserDefaults& defaults,
    std::function<std::optional<MicrophonePermission::Status>()> permissionStatus,
    SourceLister lister)
    : m_mainQueue(mainQueue),
      m_session(session),
      m_defaults(defaults),
      m_permissionStatus(std::move(permissionStatus)),
      m_lister(std::move(lister)),
      m_self(std::make_shared<AudioLevelMonitor*>(this)) {}

AudioLevelMonitor::~AudioLevelMonitor() {
    m_deviceObserver.reset();
}

AudioLevelMonitor::PermissionState AudioLevelMonitor::permissionStateFor(
    std::optional<MicrophonePermission::Status> status) {
    if (!status) {
        return PermissionState::denied;
    }
    switch (*status) {
        case MicrophonePermission::Status::notDetermined:
            return PermissionState::notDetermined;
        case MicrophonePermission::Status::granted:
            return PermissionState::authorized;
        case MicrophonePermission::Status::restricted:
        case MicrophonePermission::Status::denied:
            break;
    }
    return PermissionState::denied;
}

void AudioLevelMonitor::start() {
    m_started = true;
    // Server changes are followed while started, even without a microphone:
    // one that appears, or a server that comes back, turns the meter on.
    startObserving();
    requestListing([](AudioLevelMonitor& self, const SourceListing& listing) {
        self.updatePermission(listing);
        self.enumerate(listing);
        self.loadSelection();
        if (self.m_permissionState.get() == PermissionState::authorized) {
            self.startMeter();
            self.m_log.info("AudioLevelMonitor started (RMS reader)");
        }
    });
}

void AudioLevelMonitor::stop() {
    m_started = false;
    ++m_listingGeneration;
    stopMeter();
    m_deviceObserver.reset();
    m_log.info("AudioLevelMonitor stopped");
}

void AudioLevelMonitor::requestListing(
    std::function<void(AudioLevelMonitor&, const SourceListing&)> then) {
    const uint64_t generation = ++m_listingGeneration;
    std::weak_ptr<AudioLevelMonitor*> weak = m_self;
    auto done = [weak, generation, then = std::move(then)](const SourceListing& listing) {
        auto self = weak.lock();
        if (self && (*self)->m_listingGeneration == generation) {
            then(**self, listing);
        }
    };
    if (m_lister) {
        m_lister(std::move(done));
    } else {
        done(SourceListing{true, m_session.devices(), m_session.defaultDeviceID()});
    }
}

void AudioLevelMonitor::updatePermission(const SourceListing& listing) {
    if (m_permissionStatus) {
        m_permissionState.set(permissionStateFor(m_permissionStatus()));
    } else {
        m_permissionState.set(listing.serverReachable && !listing.devices.empty()
                                  ? PermissionState::authorized
                                  : PermissionState::denied);
    }
}

void AudioLevelMonitor::startMeter() {
    if (!m_timerRunning) {
        m_timerRunning = true;
        scheduleTick(++m_timerGeneration);
    }
}

void AudioLevelMonitor::stopMeter() {
    m_timerRunning = false;
    ++m_timerGeneration;
    m_peakLevel.set(0.0f);
    m_peakDb.set(kSilentDb);
}

void AudioLevelMonitor::startObserving() {
    std::weak_ptr<AudioLevelMonitor*> weak = m_self;
    m_deviceObserver = m_session.subscribe([this, weak](const CaptureSessionEvent& event) {
        if (event.kind == CaptureSessionEvent::Kind::streamFailed) {
            return;
        }
        // Events arrive on the main queue already; post keeps the order with
        // other main-thread work and lets a monitor that is gone be skipped.
        m_mainQueue.post([weak] {
            if (auto self = weak.lock()) {
                (*self)->refreshDevices();
            }
        });
    });
}

void AudioLevelMonitor::scheduleTick(uint64_t generation) {
    std::weak_ptr<AudioLevelMonitor*> weak = m_self;
    m_mainQueue.postAfter(kMeterIntervalSeconds, [weak, generation] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        AudioLevelMonitor& monitor = **self;
        if (!monitor.m_timerRunning || monitor.m_timerGeneration != generation) {
            return;
        }
        monitor.readMeter();
        monitor.scheduleTick(generation);
    });
}

void AudioLevelMonitor::enumerate(const SourceListing& listing) {
    std::vector<AudioInputDevice> list;
    for (const auto& device : listing.devices) {
        list.push_back(
            {device.id, device.name, listing.defaultID && device.id == *listing.defaultID});
    }
    m_availableDevices.set(std::move(list));
}

void AudioLevelMonitor::refreshDevices() {
    requestListing([](AudioLevelMonitor& self, const SourceListing& listing) {
        self.updatePermission(listing);
        self.enumerate(listing);
        // A server that is gone (restarting, say) has not lost the device:
        // the choice stays until the server answers again.
        if (listing.serverReachable) {
            self.applyFallback();
            if (!self.m_selectedDeviceID.get()) {
                self.loadSelection();
            }
        }
        if (self.m_started && self.m_permissionState.get() == PermissionState::authorized) {
            self.startMeter();
        } else if (self.m_timerRunning) {
            self.stopMeter();
        }
    });
}

void AudioLevelMonitor::applyFallback() {
    const auto& selected = m_selectedDeviceID.get();
    if (!selected) {
        return;
    }
    const auto& devices = m_availableDevices.get();
    const bool present = std::any_of(devices.begin(), devices.end(),
                                     [&](const AudioInputDevice& d) { return d.id == *selected; });
    if (present) {
        return;
    }
    auto fallback = std::find_if(devices.begin(), devices.end(),
                                 [](const AudioInputDevice& d) { return d.isDefault; });
    const std::string name = fallback != devices.end() ? fallback->name : "system default";
    m_deviceFallbackReason.set("Previously-selected device unavailable. Falling back to " + name +
                               ".");
    std::optional<std::string> newID;
    if (fallback != devices.end()) {
        newID = fallback->id;
    }
    m_selectedDeviceID.set(newID);
    if (newID) {
        m_defaults.setString("selectedAudioInputDeviceID", *newID);
        if (m_captureEngine != nullptr) {
            m_captureEngine->reconfigure(*newID);
        }
    }
}

void AudioLevelMonitor::loadSelection() {
    const auto stored = m_defaults.stringValue("selectedAudioInputDeviceID");
    const auto& devices = m_availableDevices.get();
    if (stored && std::any_of(devices.begin(), devices.end(),
                              [&](const AudioInputDevice& d) { return d.id == *stored; })) {
        m_selectedDeviceID.set(stored);
        return;
    }
    auto fallback = std::find_if(devices.begin(), devices.end(),
                                 [](const AudioInputDevice& d) { return d.isDefault; });
    m_selectedDeviceID.set(fallback != devices.end() ? std::optional(fallback->id) : std::nullopt);
}

void AudioLevelMonitor::select(const std::string& deviceID) {
    m_selectedDeviceID.set(deviceID);
    m_defaults.setString("selectedAudioInputDeviceID", deviceID);
    m_deviceFallbackReason.set(std::nullopt);
    if (m_captureEngine != nullptr) {
        m_captureEngine->reconfigure(deviceID);
    }
}

std::pair<float, float> AudioLevelMonitor::meterReading(const std::vector<float>& samples) {
    if (samples.empty()) {
        return {kSilentDb, 0.0f};
    }
    double sum = 0;
    for (float x : samples) {
        sum += static_cast<double>(x) * static_cast<double>(x);
    }
    const double rms = std::sqrt(sum / static_cast<double>(samples.size()));
    const double db = rms > 1e-9 ? 20.0 * std::log10(rms) : static_cast<double>(kSilentDb);
    const double level = db >= 0 ? 1.0 : std::pow(10.0, std::max(db, -60.0) / 20.0);
    return {static_cast<float>(db), static_cast<float>(level)};
}

void AudioLevelMonitor::readMeter() {
    if (m_captureEngine == nullptr) {
        m_peakLevel.set(0.0f);
        m_peakDb.set(kSilentDb);
        return;
    }
    const auto& ring = *m_captureEngine->ringBuffer();
    const auto samples = ring.tail(kRmsFrameCount);
    if (samples.empty()) {
        m_peakLevel.set(0.0f);
        m_peakDb.set(kSilentDb);
        return;
    }
    const auto [db, level] = meterReading(samples);
    // The level first: whoever redraws on the dB value finds both current.
    m_peakLevel.set(level);
    m_peakDb.set(db);
}

}  // namespace velmarune
