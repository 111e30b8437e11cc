#pragma once

#include <memory>

class QWidget;

namespace velmarune {

class DesktopBackends;

struct AppState;
class DesktopShortcutSource;
class MainQueue;
class PulseCaptureSession;
class SerialQueue;
class UserDefaults;

// The Hotkeys and Audio settings tabs on this desktop's backends. Each is
// built when the settings window is first shown.

// `scanQueue` reads the desktop's shortcut settings.
QWidget* makeHotkeysTab(std::shared_ptr<AppState> state, UserDefaults& defaults,
                        MainQueue& mainQueue, SerialQueue& scanQueue,
                        DesktopShortcutSource& desktopShortcuts, const DesktopBackends& desktop);

// `soundQueue` asks the sound server; capture follows the chosen input
// through the state's capture engine.
QWidget* makeAudioTab(const std::shared_ptr<AppState>& state, UserDefaults& defaults,
                      MainQueue& mainQueue, SerialQueue& soundQueue,
                      PulseCaptureSession& captureSession);

}  // namespace velmarune
