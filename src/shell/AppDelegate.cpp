#include "shell/AppDelegate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "delivery/TerminalPasteClasses.h"
#include "hotkeys/HotkeyBindings.h"
#include "hotkeys/HotkeyConflictScanner.h"
#include "hotkeys/PasteShortcut.h"
#include "platform/PermissionWalk.h"
#include "recognition/EngineSettings.h"
#include "recognition/WhisperEngine.h"
#include "shell/AppGraph.h"
#include "shell/DesktopFacts.h"
#include "shell/PasteRecorderWiring.h"
#include "shell/SettingsTabs.h"
#include "shell/SoftwareCentre.h"
#include "ui/StatusMenu.h"
#include "ui/StatusMenuModel.h"

#ifndef VELMARUNE_VERSION
#define VELMARUNE_VERSION "0.1.0"
#endif

namespace velmarune {

namespace {
const char* const kDefaultInputChanged = "Velmarune.defaultInputChanged";
}  // namespace

AppDelegate::AppDelegate(QApplication& app)
    : m_app(app), m_graph(std::make_unique<AppGraph>(app)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::launch() {
    startBackends();
    buildViews();
    startDiagnostics();
    buildCaptureEngine();
    buildDelivery();
    buildPasteLastHotKey();
    buildPipeline();
    startPushToTalkListener();
    startBootstrap();
    startWatchdogs();
    wireSessionEvents();
    buildQuitController();
}

// The backends' own connections and threads: their state is kept current
// from here on, so the core's questions are answered from memory.
void AppDelegate::startBackends() {
    AppGraph& g = *m_graph;
    // A settings file that cannot be read, was moved aside or could not be
    // saved: the user hears of it (the settings code logs it as well).
    g.defaults.setProblemHandler([&g](const std::string& message) {
        g.mainQueue.post([&g, message] {
            if (g.views)
                g.views->hud().show("Settings: " + message, false, HeadsUpDisplay::kMessageSeconds);
        });
    });
    g.desktop.start(PasteShortcut::load(g.defaults), [&g] {
        g.mainQueue.post([&g] {
            if (g.views)
                g.views->hud().show(
                    "The Wayland compositor has gone away. Start Velmarune again in your new "
                    "session.",
                    false, HeadsUpDisplay::kMessageSeconds);
        });
    });
    g.captureSession.start();
    g.sessionEvents = std::make_unique<DBusSessionEvents>(g.mainQueue);
    g.sessionEvents->start();
}

void AppDelegate::startDiagnostics() {
    AppGraph& g = *m_graph;
    g.diagnostics = std::make_shared<PasteDiagnostics>(PasteDiagnostics::Dependencies{
        [&g] { return g.defaults.boolOr("DiagnosticPasteLog", false); },
        [&g](const std::string& row) { g.csv.append(row); }, [&g] { return g.mainQueue.now(); },
        [&g] { return g.desktop.frontApplication().frontmost(); },
        std::string(VELMARUNE_VERSION) + "(1)", [&g] { return g.mainQueue.wallNow(); }});
    g.desktop.frontApplication().setOnActivation(
        [&g] { g.diagnostics->noteActivation(g.mainQueue.now()); });
}

// The capture engine and its 65 s ring; it starts once the engines are ready.
void AppDelegate::buildCaptureEngine() {
    AppGraph& g = *m_graph;
    g.captureEngine = std::make_shared<AudioCaptureEngine>(
        std::make_shared<AudioRingBuffer>(16000, 65.0), g.captureSession, g.defaults,
        AudioCaptureEngine::Control::ownThread);
    g.state->captureEngine = g.captureEngine;
}

// The paster every paste goes through, recent dictations, the didn't-paste
// list and Paste Last Dictation.
void AppDelegate::buildDelivery() {
    AppGraph& g = *m_graph;
    g.paster = std::make_shared<ClipboardPaster>(ClipboardPaster::Dependencies{
        g.desktop.pasteboard(), g.mainQueue, g.snapshotQueue,
        [&g] {
            g.desktop.keystroke().post(
                pasteChordFor(g.desktop.frontApplication().frontmostClassNames(),
                              terminalPasteClasses(g.defaults)));
        },
        makePasteRecorder(*g.diagnostics, g.desktop.keys(), g.desktop.frontApplication())});
    g.snapshotQueue.start();
    g.recents = std::make_shared<RecentDictations>(g.mainQueue);
    g.recents->observe(*g.sessionEvents);
    g.didntPaste = std::make_shared<DidntPasteList>(g.views->didntPastePresenter());
    g.pasteLast = std::make_shared<PasteLastDictation>(PasteLastDictation::Dependencies{
        g.recents, *g.paster, *g.didntPaste, g.display, g.desktop.keys(), g.mainQueue,
        [&g] { g.pipeline->cancelForPasteLast(); }});
    g.views->menuModel().attachRecent(g.recents, g.pasteLast);
}

void AppDelegate::buildPasteLastHotKey() {
    AppGraph& g = *m_graph;
    g.pasteLastHotKey = std::make_shared<GlobalHotKey>(g.desktop.hotKeys(), g.mainQueue,
                                                       [&g] { g.pasteLast->perform(); });
    g.pasteLastHotKey->reload(g.defaults);
    // The settings window's hooks hold their target weakly.
    std::weak_ptr<GlobalHotKey> weakHotKey = g.pasteLastHotKey;
    g.state->reloadPasteShortcut = [weakHotKey, &g] {
        auto h = weakHotKey.lock();
        if (!h)
            return false;
        h->reload(g.defaults);
        return h->registered() || !PasteShortcut::load(g.defaults);
    };
    g.state->suspendPasteShortcut = [weakHotKey, &g](bool suspended) {
        if (auto h = weakHotKey.lock())
            h->suspend(suspended, g.defaults);
    };
}

void AppDelegate::buildPipeline() {
    AppGraph& g = *m_graph;
    g.pipeline = DictationPipeline::create(DictationPipeline::Collaborators{
        g.mainQueue, g.transcriptionQueue, g.captureEngine, g.state, g.defaults, *g.paster,
        *g.didntPaste, g.display, g.desktop.frontApplication(), g.desktop.keys(), g.recents,
        g.diagnostics});
    g.recents->onSessionEnded = [&g](const std::string& reason) {
        g.pipeline->discardQueue(reason);
    };
}

void AppDelegate::startPushToTalkListener() {
    AppGraph& g = *m_graph;
    g.hotkeys = std::make_shared<HotkeyManager>(g.defaults, g.mainQueue, g.desktop.chordListener());
    g.hotkeys->onPTTEvent = [&g](const ModifierMatcher::Event& event) {
        using Kind = ModifierMatcher::Event::Kind;
        switch (event.kind) {
            case Kind::pushToTalkActivated:
                g.pipeline->press();
                break;
            case Kind::pushToTalkReleased:
                g.pipeline->release(false);
                break;
            case Kind::pushToTalkReleasedByAddedModifier:
                g.pipeline->pushToTalkReleasedByAddedModifier(event.flags);
                break;
            case Kind::incidentalKeyDuringPTT:
                break;
        }
    };
    std::weak_ptr<HotkeyManager> weakHotkeys = g.hotkeys;
    g.state->reloadHotkeys = [weakHotkeys] {
        if (auto h = weakHotkeys.lock())
            h->reloadBindings();
    };
    g.state->suspendHotkeys = [weakHotkeys](bool suspended) {
        if (auto h = weakHotkeys.lock())
            h->setSuspended(suspended);
    };
    if (!g.hotkeys->start()) {
        g.log.console("HotkeyManager failed to start — keyboard access (XInput2) may be missing");
    }
    g.remotePushToTalk = std::make_shared<RemotePushToTalk>(
        g.mainQueue, RemotePushToTalk::Actions{
                         [&g] { return g.pipeline->isRecording(); },
                         [&g] { return g.pipeline->pressSerial(); }, [&g] { g.pipeline->press(); },
                         [&g] { g.pipeline->release(false); }, [&g] { g.pasteLast->perform(); }});
}

void AppDelegate::handleControlRequest(ControlRequest request) {
    const auto& control = m_graph->remotePushToTalk;
    if (!control) {
        return;  // before start-up built it, or after the teardown
    }
    if ((request == ControlRequest::press || request == ControlRequest::toggle) &&
        !m_graph->defaults.boolOr(kPushToTalkControlUsedKey, false)) {
        m_graph->defaults.setBool(kPushToTalkControlUsedKey, true);
    }
    switch (request) {
        case ControlRequest::press:
            return control->press();
        case ControlRequest::release:
            return control->release();
        case ControlRequest::toggle:
            return control->toggle();
        case ControlRequest::pasteLast:
            return control->pasteLast();
    }
}

// Permissions, first-run steps, the migration and the engines; capture
// starts once both engines are ready.
void AppDelegate::startBootstrap() {
    AppGraph& g = *m_graph;
    g.transcriptionQueue.start();
    g.loaderQueue.start();
    Bootstrap::Dependencies bootDeps;
    bootDeps.mainQueue = &g.mainQueue;
    bootDeps.loader = &g.loaderQueue;
    bootDeps.appState = g.state;
    bootDeps.defaults = &g.defaults;
    g.readinessQueue.start();
    g.readiness = std::make_shared<ReadinessWalk>(ReadinessWalk::Dependencies{
        &g.mainQueue, &g.readinessQueue,
        [&g] {
            const auto input = g.desktop.inputReadiness();
            return Readiness{microphoneFacts(g.captureSession, 1.0), input.keyListening,
                             input.pasteKeystroke, input.keyListeningFix};
        },
        &g.explainer, [&g] { return HotkeyBindings::load(g.defaults).pushToTalk.symbols(); },
        [&g] { return g.defaults.boolOr(kPushToTalkControlUsedKey, false); }});
    bootDeps.permissions = g.readiness.get();
    bootDeps.loginItem = &g.loginItem;
    g.loginItem.refreshRegistration();  // the program may have moved since the entry was written
    bootDeps.pipeline = g.pipeline;
    bootDeps.slotsNeedingModels = [&g] { return g.locator.slotsNeedingModels(); };
    bootDeps.resolveSlot = [&g](ModelSlot slot) { return g.locator.resolve(slot); };
    bootDeps.loadEngine = [&g](const std::filesystem::path& path) {
        return WhisperEngine::create(path, g.locator.catalogueSize(path),
                                     engineOptionsFrom(g.defaults));
    };
    bootDeps.canonicalMultilingualPath = [&g] {
        const auto entries = g.locator.entries(ModelSlot::multilingual);
        return entries.empty() ? std::filesystem::path() : g.locator.installPath(entries.front());
    };
    bootDeps.countHotkeyConflicts = [&g] {
        // The count is only logged; nothing comes back to the main thread.
        g.shortcutScanQueue.start();
        g.shortcutScanQueue.async(
            [&g] { HotkeyConflictScanner::startupCount(g.desktopShortcuts); });
    };
    bootDeps.observeModelDownloads = [&g](std::function<void()> reload) {
        return g.notifications.observe(
            kModelDownloadCompletedNotification,
            [reload = std::move(reload)](const std::string&) { reload(); });
    };
    g.bootstrap = std::make_shared<Bootstrap>(std::move(bootDeps));
    std::weak_ptr<DictationPipeline> weakPipeline = g.pipeline;
    g.bootstrap->setOnEngineReady([weakPipeline] {
        if (auto p = weakPipeline.lock())
            p->startCapture();
    });
    std::weak_ptr<Bootstrap> weakBootstrap = g.bootstrap;
    g.state->reloadEngine = [weakBootstrap] {
        if (auto b = weakBootstrap.lock())
            b->loadEngines();
    };
    g.state->resetEngine = [weakBootstrap] {
        if (auto b = weakBootstrap.lock())
            b->performReset();
    };
    presentRequirementsThen([&g] { g.bootstrap->start(); });
}

// The capture wake watcher and the hourly reset.
void AppDelegate::startWatchdogs() {
    AppGraph& g = *m_graph;
    g.wakeWatcher = std::make_shared<CaptureWakeWatcher>(CaptureWakeWatcher::Dependencies{
        &g.mainQueue, [&g] { return g.pipeline->isRecording(); },
        [&g](const std::string&) {
            if (g.pipeline->isRecording() ||
                g.state->engineStatus.get() != WhisperStatus::ready()) {
                return;
            }
            g.captureEngine->stop();
            g.captureEngine->resetRing();
            g.captureEngine->start();
        },
        [&g] {
            return g.captureEngine->deviceID() !=
                   AudioCaptureEngine::resolveDeviceID(g.captureSession, g.defaults);
        }});
    g.wakeWatcher->start(*g.state);
    std::weak_ptr<Bootstrap> weakBootstrap = g.bootstrap;
    g.autoReset = std::make_shared<AutoResetScheduler>(g.mainQueue, g.state, [weakBootstrap] {
        if (auto b = weakBootstrap.lock())
            b->performReset();
    });
    g.autoReset->start();
}

void AppDelegate::buildQuitController() {
    AppGraph& g = *m_graph;
    g.quit = std::make_shared<QuitController>(QuitController::Dependencies{
        g.pipeline,
        [](const QuitAlert& alert) -> size_t {
            QMessageBox box;
            box.setIcon(QMessageBox::Warning);
            box.setText(QString::fromStdString(alert.message));
            box.setInformativeText(QString::fromStdString(alert.informativeText));
            std::vector<QAbstractButton*> buttons;
            for (const auto& title : alert.buttons) {
                buttons.push_back(
                    box.addButton(QString::fromStdString(title), QMessageBox::AcceptRole));
            }
            box.activateWindow();
            box.exec();
            for (size_t i = 0; i < buttons.size(); ++i) {
                if (box.clickedButton() == buttons[i])
                    return i;
            }
            return buttons.size();  // closed without a choice: quit
        },
        [this] { terminate(); }});
}

void AppDelegate::wireSessionEvents() {
    AppGraph& g = *m_graph;
    g.subscriptions.push_back(g.sessionEvents->observe([this, &g](SessionEvent event) {
        const TimePoint now = g.mainQueue.now();
        switch (event) {
            case SessionEvent::screenLocked:
            case SessionEvent::sessionInactive:
            case SessionEvent::sessionActive:
                g.desktop.noteSessionEvent(event);
                break;
            case SessionEvent::screenUnlocked:
                g.desktop.noteSessionEvent(event);
                g.diagnostics->noteUnlock(now);
                g.wakeWatcher->handle(WakeEvent::screenUnlocked);
                break;
            case SessionEvent::displayWoke:
                g.diagnostics->noteScreenWake(now);
                g.wakeWatcher->handle(WakeEvent::displayWoke);
                break;
            case SessionEvent::didWake:
                g.diagnostics->noteWake(now);
                g.wakeWatcher->handle(WakeEvent::systemWoke);
                break;
            case SessionEvent::willPowerOff:
                requestQuit(std::string("power off"));
                break;
            default:
                break;
        }
    }));
    g.subscriptions.push_back(g.captureSession.subscribe([&g](const CaptureSessionEvent& event) {
        using Kind = CaptureSessionEvent::Kind;
        switch (event.kind) {
            case Kind::streamFailed:
                g.wakeWatcher->handle(WakeEvent::captureError);
                break;
            case Kind::sourceAdded:
            case Kind::serverConnected:
                g.wakeWatcher->handle(WakeEvent::deviceConnected);
                break;
            case Kind::defaultSourceChanged:
            case Kind::sourceRemoved:
                g.notifications.post(kDefaultInputChanged);
                break;
            case Kind::serverDisconnected:
                break;
        }
    }));
    g.subscriptions.push_back(g.notifications.observe(
        kDefaultInputChanged, [&g](const std::string&) { g.wakeWatcher->defaultInputChanged(); }));
}

// The status item, the heads-up display and the panels.
void AppDelegate::buildViews() {
    AppGraph& g = *m_graph;
    g.views =
        std::make_unique<DesktopViews>(DesktopViews::Dependencies{g.mainQueue, g.state, g.defaults,
                                                                  [&g](const std::string& text) {
                                                                      if (g.paster)
                                                                          g.paster->copy(text);
                                                                  },
                                                                  [this] { requestQuit(); }});
    g.views->start();
    g.downloads = std::make_unique<ModelDownloadManager>(g.mainQueue, g.notifications, g.locator);
    g.settings = std::make_unique<SettingsWindow>(SettingsWindow::Dependencies{
        g.state, g.defaults, g.mainQueue, &g.loginItem, [&g] { return g.openSoftwareCentre; },
        g.locator, *g.downloads, g.notifications, g.transcriptionQueue, resourcesFolder(),
        [&g] {
            return makeHotkeysTab(g.state, g.defaults, g.mainQueue, g.shortcutScanQueue,
                                  g.desktopShortcuts, g.desktop);
        },
        [&g] {
            return makeAudioTab(g.state, g.defaults, g.mainQueue, g.readinessQueue,
                                g.captureSession);
        }});
    g.views->statusMenu().setOpenSettings(
        [&g](std::optional<SettingsPage> page) { g.settings->show(page); });
    // Updates come from the package manager; the menu offers the software
    // centre's page only where one handles appstream: links.
    findSoftwareCentre(g.softwareCentreProbe.get(), [&g](std::function<void()> open) {
        g.openSoftwareCentre = open;
        g.views->menuModel().attachUpdater(std::move(open));
    });
    g.subscriptions.push_back(g.state->engineStatus.subscribe([&g](const WhisperStatus& status) {
        if (status.kind == WhisperStatus::Kind::needsModels) {
            std::string missing;
            for (ModelSlot slot : status.missingSlots) {
                missing += (missing.empty() ? "" : ", ") + modelSlotDisplayWord(slot);
            }
            g.log.info("engine status: needsModels (%{public}s); `velmarune models` downloads them",
                       missing);
        }
    }));
}

void AppDelegate::requestQuit(std::optional<std::string> systemReason) {
    if (m_graph->quit) {
        m_graph->quit->requestQuit(std::move(systemReason));
    } else {
        terminate();
    }
}

void AppDelegate::terminate() {
    AppGraph& g = *m_graph;
    if (g.diagnostics)
        g.diagnostics->setPendingCancelReason("quit");
    if (g.pipeline)
        g.pipeline->stopEverything();
    if (g.recents)
        g.recents->clear("quit");
    if (g.autoReset)
        g.autoReset->stop();
    if (g.hotkeys)
        g.hotkeys->stop();
    if (g.captureEngine)
        g.captureEngine->stop();
    g.defaults.flush();
    g.log.info("Quitting: dictation stopped, settings flushed");
    QApplication::exit(0);
}

void AppDelegate::showYourself() {
    AppGraph& g = *m_graph;
    g.log.info("showing the running instance");
    // Starting the program again is how desktop users reach a tray
    // application's settings from their launcher.
    if (g.settings) {
        g.settings->show();
    }
}

void AppDelegate::flushSettings() {
    m_graph->defaults.flush();
}

}  // namespace velmarune
