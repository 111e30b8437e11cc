#pragma once

// The objects the desktop application is made of, shared by the files that
// build them in start-up order (AppDelegate*.cpp); nothing else includes it.

#include <QApplication>
#include <QObject>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "app/AppState.h"
#include "app/AutoResetScheduler.h"
#include "app/Bootstrap.h"
#include "app/CaptureWakeWatcher.h"
#include "app/DictationPipeline.h"
#include "app/QuitController.h"
#include "app/RemotePushToTalk.h"
#include "audio/AudioCaptureEngine.h"
#include "delivery/ClipboardPaster.h"
#include "delivery/DidntPasteList.h"
#include "delivery/PasteLastDictation.h"
#include "delivery/RecentDictations.h"
#include "diagnostics/PasteDiagnostics.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Paths.h"
#include "foundation/Resources.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/GlobalHotKey.h"
#include "hotkeys/HotkeyManager.h"
#include "models/ModelDownloadManager.h"
#include "models/ModelLocator.h"
#include "platform/MachineFacts.h"
#include "platform/linux/DBusSessionEvents.h"
#include "platform/linux/LinuxDesktopShortcutSource.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "requirements/HardwareCheck.h"
#include "shell/DesktopBackends.h"
#include "shell/QtMainQueue.h"
#include "system/ReadinessWalk.h"
#include "ui/DesktopViews.h"
#include "ui/HeadsUpDisplay.h"
#include "ui/ModelDownloadWindow.h"
#include "ui/ReadinessExplainerWindow.h"
#include "ui/RequirementsWindow.h"
#include "ui/SettingsWindow.h"

namespace velmarune {

// The heads-up display as the core's dictation display.
class HudDictationDisplay : public DictationDisplay {
  public:
    explicit HudDictationDisplay(const std::unique_ptr<DesktopViews>& views) : m_views(views) {}
    void showNotice(const std::string& text, double seconds) override {
        m_views->hud().show(text, false, seconds);
    }
    void showTranscript(const std::string& text) override {
        m_views->hud().show(text, true, HeadsUpDisplay::kTranscriptSeconds);
    }

  private:
    const std::unique_ptr<DesktopViews>& m_views;
};

// Every long-lived object, declared in start-up order so that destruction
// runs in reverse.
struct AppGraph {
    explicit AppGraph(QApplication& app)
        : mainQueue(&app),
          paths(Paths::fromEnvironment()),
          defaults(paths.settingsFile()),
          notifications(mainQueue),
          csv((paths.logsFolder() / "press-diag.csv").string()),
          captureSession(mainQueue),
          locator(defaults, paths),
          loginItem(paths.autostartFolder(), executable(),
                    // Installed when the prefix carries our resources.
                    !findResourcesFolder(executable(), {}).empty()) {}
    AppGraph(const AppGraph&) = delete;
    AppGraph& operator=(const AppGraph&) = delete;

    static std::filesystem::path executable() {
        return std::filesystem::read_symlink("/proc/self/exe");
    }

    QtMainQueue mainQueue;
    Paths paths;
    FileUserDefaults defaults;
    NotificationCenter notifications;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    Logger log{"App"};

    // Worker queues.
    SerialQueue transcriptionQueue{"com.quorin.velmarune.transcription"};
    SerialQueue loaderQueue{"com.quorin.velmarune.engine-loader"};
    SerialQueue snapshotQueue{kClipboardSnapshotQueueName};
    // The desktop's shortcut settings are read by helper programs that may
    // take seconds: never on the main thread.
    SerialQueue shortcutScanQueue{"com.quorin.velmarune.shortcut-scan"};
    // Looks at the display and the sound server without holding the main thread.
    SerialQueue readinessQueue{"com.quorin.velmarune.readiness"};

    // Backends.
    DiagnosticCsvFile csv;
    PulseCaptureSession captureSession;
    // The clipboard, the keyboard state, the paste keystroke, the front
    // window, the chord listener and the hot key, from the backends chosen
    // for this session.
    DesktopBackends desktop;
    LinuxDesktopShortcutSource desktopShortcuts;
    std::unique_ptr<DBusSessionEvents> sessionEvents;
    ModelLocator locator;
    XdgAutostartLoginItem loginItem;

    // First run: the requirements window, the first downloads, the readiness walk.
    std::unique_ptr<MachineFacts> machineFacts;
    std::unique_ptr<HardwareCheckModel> hardwareCheck;
    std::unique_ptr<RequirementsWindow> requirementsWindow;
    std::unique_ptr<ModelDownloadManager> downloads;
    std::unique_ptr<ModelDownloadWindow> downloadWindow;
    ReadinessExplainerWindow explainer;
    std::shared_ptr<ReadinessWalk> readiness;

    // The core, in start-up order.
    std::unique_ptr<DesktopViews> views;
    std::unique_ptr<SettingsWindow> settings;  // its window is built when first shown
    // Bounds the software-centre query: gone (and the query with it) before the views.
    std::unique_ptr<QObject> softwareCentreProbe = std::make_unique<QObject>();
    std::function<void()> openSoftwareCentre;  // set once a software centre is found
    HudDictationDisplay display{views};
    std::shared_ptr<PasteDiagnostics> diagnostics;
    std::shared_ptr<AudioCaptureEngine> captureEngine;
    std::shared_ptr<ClipboardPaster> paster;
    std::shared_ptr<RecentDictations> recents;
    std::shared_ptr<DidntPasteList> didntPaste;  // shared: its panel's buttons hold it weakly
    std::shared_ptr<PasteLastDictation> pasteLast;
    std::shared_ptr<GlobalHotKey> pasteLastHotKey;
    std::shared_ptr<DictationPipeline> pipeline;
    std::shared_ptr<HotkeyManager> hotkeys;
    std::shared_ptr<RemotePushToTalk> remotePushToTalk;
    std::shared_ptr<Bootstrap> bootstrap;
    std::shared_ptr<CaptureWakeWatcher> wakeWatcher;
    std::shared_ptr<AutoResetScheduler> autoReset;
    std::shared_ptr<QuitController> quit;

    std::vector<Subscription> subscriptions;

    // Threads that call into the objects above end before any of them goes:
    // the listeners first, then the worker queues (each finishes its work).
    ~AppGraph() {
        if (hotkeys)
            hotkeys->stop();
        if (sessionEvents)
            sessionEvents->stop();
        desktop.stop();
        if (captureEngine)
            captureEngine->stop();
        transcriptionQueue.stop();
        shortcutScanQueue.stop();
        readinessQueue.stop();  // its probes ask the sound server, which goes before it
        loaderQueue.stop();
        snapshotQueue.stop();
    }
};

}  // namespace velmarune
