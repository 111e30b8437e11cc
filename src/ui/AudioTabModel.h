#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/AudioLevelMonitor.h"
#include "foundation/Subscription.h"

namespace velmarune {

class AudioCaptureEngine;
class CaptureSession;
class Executor;
class MainQueue;
class UserDefaults;

// The program and arguments that open the desktop's sound settings on the
// input page: the running desktop's own (GNOME Settings, KDE System
// Settings), else pavucontrol; absent when none is installed.
// `currentDesktop` is $XDG_CURRENT_DESKTOP ("ubuntu:GNOME", "KDE").
std::optional<std::vector<std::string>> soundSettingsCommand(
    std::string_view currentDesktop, const std::function<bool(const std::string&)>& installed);

// The Audio settings tab without its widgets: the input devices, the level
// meter (running only while the tab is shown), the microphone mode and
// whether the sound server and a microphone are there. Main thread only.
class AudioTabModel {
  public:
    struct Dependencies {
        MainQueue& mainQueue;
        // Questions to the sound server run here, never on the main thread.
        Executor& prober;
        CaptureSession& session;                                        // its change events
        std::function<AudioLevelMonitor::SourceListing()> listSources;  // runs on `prober`
        UserDefaults& defaults;
        AudioCaptureEngine* captureEngine = nullptr;  // switched to the chosen input
        std::optional<std::vector<std::string>> soundSettings;
        // Starts a program; false when it could not be started.
        std::function<bool(const std::vector<std::string>&)> launch;
    };

    struct DeviceRow {
        std::string id;
        std::string label;  // the name, " (Default)" after the server's default
        bool operator==(const DeviceRow&) const = default;
    };

    struct MicrophoneLine {
        enum class State { checking, ready, missing };
        State state = State::checking;
        std::string status;
        std::string fix;  // what to do about it, in plain words; empty when ready
    };

    explicit AudioTabModel(Dependencies deps);
    ~AudioTabModel();
    AudioTabModel(const AudioTabModel&) = delete;
    AudioTabModel& operator=(const AudioTabModel&) = delete;

    // Everything but the meter changed / the meter moved.
    std::function<void()> onChanged;
    std::function<void()> onLevelChanged;

    void shown();   // starts the meter and follows the server
    void hidden();  // stops both: nothing runs behind a hidden tab
    void refreshDevices();
    void choose(const std::string& deviceID);
    void openSoundSettings();

    std::vector<DeviceRow> deviceRows() const;
    std::optional<std::string> selectedDeviceID() const;
    std::string deviceIDText() const;
    std::optional<std::string> fallbackText() const;
    float level() const;          // 0 … 1
    bool meterAvailable() const;  // a microphone to measure
    std::string levelText() const;
    std::string micModeText() const;
    static std::string micModeCaption();
    bool canOpenSoundSettings() const { return m_deps.soundSettings.has_value(); }
    const std::optional<std::string>& soundSettingsError() const { return m_launchError; }
    MicrophoneLine microphoneLine() const;

    AudioLevelMonitor& monitor() { return m_monitor; }

  private:
    void listSources(std::function<void(AudioLevelMonitor::SourceListing)> done);
    void changed();

    Dependencies m_deps;
    std::optional<AudioLevelMonitor::SourceListing> m_listing;  // the newest answer
    std::optional<std::string> m_launchError;
    std::shared_ptr<AudioTabModel*> m_self;  // answers from the prober hold this weakly
    AudioLevelMonitor m_monitor;
    std::vector<Subscription> m_subscriptions;
};

}  // namespace velmarune
