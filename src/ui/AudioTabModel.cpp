#include "ui/AudioTabModel.h"

#include <algorithm>
#include <cstdio>

#include "audio/AudioCaptureEngine.h"
#include "audio/MicMode.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"

namespace velmarune {

namespace {
bool hasDesktop(std::string_view currentDesktop, std::string_view name) {
    // A colon-separated list, most specific first ("ubuntu:GNOME").
    size_t start = 0;
    while (start <= currentDesktop.size()) {
        size_t end = currentDesktop.find(':', start);
        if (end == std::string_view::npos) {
            end = currentDesktop.size();
        }
        if (currentDesktop.substr(start, end - start) == name) {
            return true;
        }
        start = end + 1;
    }
    return false;
}
}  // namespace

std::optional<std::vector<std::string>> soundSettingsCommand(
    std::string_view currentDesktop, const std::function<bool(const std::string&)>& installed) {
    std::vector<std::vector<std::string>> candidates;
    // A desktop's settings program refuses to run, or looks broken, outside
    // its own desktop: offer it only there.
    if (hasDesktop(currentDesktop, "GNOME") || hasDesktop(currentDesktop, "Unity")) {
        candidates.push_back({"gnome-control-center", "sound"});
    }
    if (hasDesktop(currentDesktop, "KDE")) {
        candidates.push_back({"systemsettings", "kcm_pulseaudio"});
        candidates.push_back({"kcmshell6", "kcm_pulseaudio"});
        candidates.push_back({"kcmshell5", "kcm_pulseaudio"});
    }
    candidates.push_back({"pavucontrol", "--tab=4"});  // 4: Input Devices
    candidates.push_back({"pavucontrol-qt", "--tab=4"});
    for (auto& command : candidates) {
        if (installed(command.front())) {
            return std::move(command);
        }
    }
    return std::nullopt;
}

AudioTabModel::AudioTabModel(Dependencies deps)
    : m_deps(std::move(deps)),
      m_self(std::make_shared<AudioTabModel*>(this)),
      m_monitor(m_deps.mainQueue, m_deps.session, m_deps.defaults, {},
                [this](std::function<void(AudioLevelMonitor::SourceListing)> done) {
                    listSources(std::move(done));
                }) {
    m_monitor.setCaptureEngine(m_deps.captureEngine);
    const auto redraw = [this](const auto&) { changed(); };
    const auto meter = [this](const auto&) {
        if (onLevelChanged) {
            onLevelChanged();
        }
    };
    m_subscriptions.push_back(m_monitor.availableDevices().subscribe(redraw));
    m_subscriptions.push_back(m_monitor.selectedDeviceID().subscribe(redraw));
    m_subscriptions.push_back(m_monitor.permissionState().subscribe(redraw));
    m_subscriptions.push_back(m_monitor.deviceFallbackReason().subscribe(redraw));
    m_subscriptions.push_back(m_monitor.peakDb().subscribe(meter));
}

AudioTabModel::~AudioTabModel() {
    m_subscriptions.clear();
    m_monitor.stop();
}

void AudioTabModel::listSources(std::function<void(AudioLevelMonitor::SourceListing)> done) {
    std::weak_ptr<AudioTabModel*> weak = m_self;
    MainQueue* mainQueue = &m_deps.mainQueue;
    m_deps.prober.execute([list = m_deps.listSources, mainQueue, weak, done = std::move(done)] {
        auto listing = list ? list() : AudioLevelMonitor::SourceListing{false, {}, std::nullopt};
        mainQueue->post([weak, done, listing = std::move(listing)] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            (*self)->m_listing = listing;
            done(listing);
            (*self)->changed();  // the microphone line and mode follow every answer
        });
    });
}

void AudioTabModel::shown() {
    m_launchError.reset();
    m_monitor.start();
}

void AudioTabModel::hidden() {
    m_monitor.stop();
}

void AudioTabModel::refreshDevices() {
    m_monitor.refreshDevices();
}

void AudioTabModel::choose(const std::string& deviceID) {
    m_monitor.select(deviceID);
    changed();
}

void AudioTabModel::openSoundSettings() {
    m_launchError.reset();
    if (m_deps.soundSettings && m_deps.launch && !m_deps.launch(*m_deps.soundSettings)) {
        m_launchError = "Couldn't start " + m_deps.soundSettings->front() + ".";
    }
    changed();
}

std::vector<AudioTabModel::DeviceRow> AudioTabModel::deviceRows() const {
    std::vector<DeviceRow> rows;
    for (const auto& device : m_monitor.devicesNow()) {
        rows.push_back({device.id, device.name + (device.isDefault ? " (Default)" : "")});
    }
    return rows;
}

std::optional<std::string> AudioTabModel::selectedDeviceID() const {
    return m_monitor.selectedNow();
}

std::string AudioTabModel::deviceIDText() const {
    const auto& id = m_monitor.selectedNow();
    const auto& devices = m_monitor.devicesNow();
    const bool listed = id && std::any_of(devices.begin(), devices.end(),
                                          [&](const AudioInputDevice& d) { return d.id == *id; });
    return listed ? "Device ID: " + *id : "";
}

std::optional<std::string> AudioTabModel::fallbackText() const {
    return m_monitor.fallbackNow();
}

float AudioTabModel::level() const {
    return m_monitor.levelNow();
}

bool AudioTabModel::meterAvailable() const {
    return m_monitor.permissionNow() == AudioLevelMonitor::PermissionState::authorized;
}

std::string AudioTabModel::levelText() const {
    if (!meterAvailable()) {
        return "Input levels appear once a microphone is available.";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.0f dB", static_cast<double>(m_monitor.dbNow()));
    return text;
}

std::string AudioTabModel::micModeText() const {
    if (!m_listing || !m_listing->serverReachable) {
        return micModeLabel(MicMode::unknown);
    }
    // The input capture runs from, else the one chosen here.
    std::optional<std::string> id =
        m_deps.captureEngine != nullptr ? m_deps.captureEngine->deviceID() : std::nullopt;
    if (!id) {
        id = m_monitor.selectedNow();
    }
    const auto& devices = m_listing->devices;
    auto it = std::find_if(devices.begin(), devices.end(),
                           [&](const CaptureDevice& d) { return id && d.id == *id; });
    if (it == devices.end()) {
        return micModeLabel(MicMode::unknown);
    }
    return micModeLabel(it->isNoiseSuppressionFilter ? MicMode::voiceIsolation : MicMode::standard);
}

std::string AudioTabModel::micModeCaption() {
    return "Voice Isolation: the input is a noise-suppression filter that takes out background "
           "noise. Standard: the microphone as it is. Choose a filtered input above, or set one "
           "up in your sound settings.";
}

AudioTabModel::MicrophoneLine AudioTabModel::microphoneLine() const {
    using State = MicrophoneLine::State;
    if (!m_listing) {
        return {State::checking, "Checking…", ""};
    }
    if (!m_listing->serverReachable) {
        return {State::missing, "Sound server not running",
                "Velmarune can't reach the sound server (PipeWire or PulseAudio). Start it, or "
                "log in to a desktop session with sound. This tab updates by itself when it is "
                "back."};
    }
    if (m_listing->devices.empty()) {
        return {State::missing, "No microphone",
                "The sound server is running but offers no microphone. Plug in a microphone or "
                "headset, or turn on an input in your sound settings."};
    }
    return {State::ready, "Available", ""};
}

void AudioTabModel::changed() {
    if (onChanged) {
        onChanged();
    }
}

}  // namespace velmarune
