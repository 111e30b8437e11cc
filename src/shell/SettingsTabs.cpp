#include "shell/SettingsTabs.h"

#include "app/AppState.h"
#include "audio/AudioCaptureEngine.h"
#include "foundation/SerialQueue.h"
#include "hotkeys/HotkeyConflictScanner.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "shell/DesktopBackends.h"
#include "ui/AudioTab.h"
#include "ui/HotkeysTab.h"

namespace velmarune {

namespace {
// How long one listing waits for a sound server that is (re)connecting.
constexpr double kServerWaitSeconds = 1.0;
}  // namespace

QWidget* makeHotkeysTab(std::shared_ptr<AppState> state, UserDefaults& defaults,
                        MainQueue& mainQueue, SerialQueue& scanQueue,
                        DesktopShortcutSource& desktopShortcuts, const DesktopBackends& desktop) {
    scanQueue.start();
    return new HotkeysTab(HotkeysTab::Dependencies{
        {defaults, mainQueue, scanQueue,
         [&desktopShortcuts] { return HotkeyConflictScanner::systemShortcuts(desktopShortcuts); },
         std::move(state),
         [&desktop](DesktopService service, const std::optional<PasteShortcut>& pasteLast) {
             return desktop.advice(service, pasteLast);
         }},
        {}});
}

QWidget* makeAudioTab(const std::shared_ptr<AppState>& state, UserDefaults& defaults,
                      MainQueue& mainQueue, SerialQueue& soundQueue,
                      PulseCaptureSession& captureSession) {
    soundQueue.start();
    return new AudioTab(AudioTabModel::Dependencies{
        mainQueue,
        soundQueue,
        captureSession,
        [&captureSession] {
            AudioLevelMonitor::SourceListing listing;
            listing.serverReachable = captureSession.waitUntilConnected(kServerWaitSeconds);
            if (listing.serverReachable) {
                listing.devices = captureSession.devices();
                listing.defaultID = captureSession.defaultDeviceID();
            }
            return listing;
        },
        defaults,
        state->captureEngine.get(),
        std::nullopt,
        {}});
}

}  // namespace velmarune
