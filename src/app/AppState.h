#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/AppMode.h"
#include "foundation/Published.h"
#include "foundation/Time.h"
#include "recognition/WhisperStatus.h"

namespace velmarune {

class SpeechRecognizer;
class AudioCaptureEngine;
class Updater;

// The one observable description of what the system is doing now, plus the
// shared handles and callbacks the settings window reaches the core through.
// Main thread only.
struct AppState {
    Published<AppMode> mode{AppMode::idle};
    Published<WhisperStatus> engineStatus{WhisperStatus::notLoaded()};
    Published<std::optional<std::string>> lastTranscript;
    // Shown as "Last reset: … ago", an elapsed time, so on the monotonic clock.
    Published<std::optional<TimePoint>> lastResetTime;
    Published<int64_t> queuedDictations{0};
    Published<bool> waitingForKeys{false};

    std::shared_ptr<SpeechRecognizer> hebrewEngine;
    std::shared_ptr<SpeechRecognizer> multilingualEngine;
    std::shared_ptr<AudioCaptureEngine> captureEngine;
    std::shared_ptr<Updater> updater;

    // Installed at start-up; each holds its target weakly.
    std::function<void()> reloadEngine;
    std::function<void()> reloadHotkeys;
    // True while the settings window records a new chord: held modifiers
    // start no dictation then.
    std::function<void(bool)> suspendHotkeys;
    std::function<void()> resetEngine;
    // Registers the stored Paste Last Dictation shortcut again; false when the
    // desktop refused it (another application holds it).
    std::function<bool()> reloadPasteShortcut;
    std::function<void(bool)> suspendPasteShortcut;

    std::optional<TimePoint> lastPTTReleaseTime;
};

}  // namespace velmarune
