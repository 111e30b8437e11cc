#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "QtDesktop.h"
#include "app/AppState.h"
#include "audio/AudioCaptureEngine.h"
#include "delivery/X11TestClients.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Paths.h"
#include "foundation/Resources.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/GlobalHotKey.h"
#include "hotkeys/HotkeyBindings.h"
#include "integration/models/LoopbackHttpServer.h"
#include "models/ModelDownloadManager.h"
#include "models/ModelLocator.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "platform/x11/X11HotKeyService.h"
#include "shell/SettingsTabs.h"
#include "support/PulseRig.h"
#include "support/ScriptedRecognizer.h"
#include "support/TempDir.h"
#include "ui/AboutTab.h"
#include "ui/AudioTab.h"
#include "ui/HotkeysTab.h"
#include "ui/SettingsWindow.h"

namespace velmarune::testing {
namespace {

namespace fs = std::filesystem;

int shownSettingsWindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        count += widget->isVisible() && widget->windowTitle() == "Velmarune Settings";
    }
    return count;
}

// A button of the shown tab whose text starts with `prefix`, or null.
QPushButton* button(QWidget* tab, const QString& prefix) {
    for (QPushButton* candidate : tab->findChildren<QPushButton*>()) {
        if (candidate->isVisible() && candidate->text().startsWith(prefix)) {
            return candidate;
        }
    }
    return nullptr;
}

bool shows(QWidget* tab, const QString& text) {
    for (QLabel* label : tab->findChildren<QLabel*>()) {
        if (label->isVisible() && label->text().contains(text)) {
            return true;
        }
    }
    return false;
}

// The settings window, its models served by a loopback HTTP server.
class SettingsWindowX11 : public QtDesktop {
  protected:
    void SetUp() override {
        QtDesktop::SetUp();
        ASSERT_TRUE(server.running());
        notifications = std::make_unique<NotificationCenter>(*queue);
        locator = std::make_unique<ModelLocator>(defaults, paths, catalog());
        downloads = std::make_unique<ModelDownloadManager>(*queue, *notifications, *locator);
        worker.start();
        settings = std::make_unique<SettingsWindow>(SettingsWindow::Dependencies{
            state, defaults, *queue, &loginItem, [] { return std::function<void()>(); }, *locator,
            *downloads, *notifications, worker, resourcesFolder()});
    }
    void TearDown() override {
        settings.reset();
        worker.stop();
        downloads.reset();
        QtDesktop::TearDown();
    }

    // Hebrew models on the server (one whose bytes do not match the catalogue,
    // one sent slowly) and a multilingual one.
    ModelCatalog catalog() {
        const ModelEntry damaged = server.serve("he-damaged", "model he-damaged");
        writeFile(served / damaged.fileName, "MODEL he-damaged");
        return ModelCatalog({server.serve("he-old", "model he-old"),
                             server.serve("he-new", "model he-new"), damaged,
                             server.serve("he-slow", std::string(400'000, 'x'), "slow"),
                             server.serve("multi", "model multi", "files", "multilingual")});
    }
    void install(const std::string& id, ModelSlot slot) {
        const ModelEntry entry = *locator->catalog().entry(id);
        fs::create_directories(locator->modelsFolder());
        fs::copy_file(served / entry.fileName, locator->installPath(entry));
        ASSERT_TRUE(locator->assign(entry, slot));
    }

    bool settingsActive(double seconds) {
        return pumpUntil(
            [&] {
                return settings->window() && QApplication::activeWindow() == settings->window();
            },
            seconds);
    }

    TempDir root{"velmarune-settings"};
    fs::path served = [this] {
        fs::create_directories(root / "served");
        return root / "served";
    }();
    LoopbackHttpServer server{served};
    Paths paths = Paths::underRoot(root.path());
    std::unique_ptr<NotificationCenter> notifications;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    FileUserDefaults defaults{paths.settingsFile()};
    XdgAutostartLoginItem loginItem{paths.autostartFolder(), "/usr/bin/velmarune", true};
    std::unique_ptr<ModelLocator> locator;
    std::unique_ptr<ModelDownloadManager> downloads;
    SerialQueue worker{"settings-test-transcription"};
    std::unique_ptr<SettingsWindow> settings;
};

TEST_F(SettingsWindowX11, OpeningAgainBringsTheSameWindowBackInFront) {
    EXPECT_EQ(settings->window(), nullptr) << "built before it was asked for";
    settings->show();
    ASSERT_TRUE(settingsActive(5.0));
    QWidget* first = settings->window();
    EXPECT_EQ(settings->tabs()->currentIndex(), 0);

    // Another application's window takes the front; opening Settings again
    // (as "Download Models…" does) raises the same window on the Models tab.
    PasteTarget other("OtherApp");
    ASSERT_TRUE(other.waitUntilActive(5.0));
    settings->show(SettingsPage::models);
    EXPECT_TRUE(settingsActive(5.0)) << "the window stayed behind the other application";
    EXPECT_EQ(settings->window(), first);
    EXPECT_EQ(shownSettingsWindows(), 1);
    EXPECT_EQ(settings->tabs()->currentIndex(), 2);

    // Closed and opened again: the same window, on the tab the user left.
    first->close();
    ASSERT_TRUE(pumpUntil([&] { return !first->isVisible(); }, 5.0));
    settings->show();
    EXPECT_TRUE(settingsActive(5.0));
    EXPECT_EQ(settings->window(), first);
    EXPECT_EQ(settings->tabs()->currentIndex(), 2);
    EXPECT_EQ(shownSettingsWindows(), 1);
}

// Through the Models tab's buttons: a model downloads, and only choosing it
// changes the slot and reloads the engines.
TEST_F(SettingsWindowX11, ModelDownloadedThroughTheModelsTabIsUsedAfterSetAs) {
    install("he-old", ModelSlot::hebrew);
    int reloads = 0;
    state->reloadEngine = [&] { ++reloads; };
    settings->show(SettingsPage::models);
    QWidget* tab = settings->tabs()->currentWidget();
    ASSERT_TRUE(pumpUntil([&] { return tab->isVisible(); }, 5.0));
    EXPECT_TRUE(shows(tab, "he-old.bin"));
    QWidget* fresh = tab->findChild<QWidget*>("he-new");
    button(fresh, "Download")->click();
    ASSERT_TRUE(pumpUntil([&] { return button(fresh, "Set as Hebrew") != nullptr; }, 20.0))
        << "the download did not finish";
    EXPECT_EQ(reloads, 0) << "downloading alone changed the engines";
    button(fresh, "Set as Hebrew")->click();
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(locator->activeEntry(ModelSlot::hebrew)->id, "he-new");
    EXPECT_TRUE(shows(tab, "he-new.bin"));

    // A download that fails its check says why and offers itself again.
    QWidget* damaged = tab->findChild<QWidget*>("he-damaged");
    button(damaged, "Download")->click();
    EXPECT_TRUE(pumpUntil([&] { return shows(damaged, "verification failed"); }, 20.0));
    EXPECT_TRUE(button(damaged, "Download"));
    // A slow one shows its progress until it is cancelled.
    QWidget* slow = tab->findChild<QWidget*>("he-slow");
    button(slow, "Download")->click();
    ASSERT_TRUE(pumpUntil([&] { return shows(slow, "%") && button(slow, "Cancel"); }, 10.0));
    button(slow, "Cancel")->click();
    EXPECT_TRUE(pumpUntil([&] { return button(slow, "Download") != nullptr; }, 5.0));
    // The test sample goes to the slot's engine and its text is shown.
    state->multilingualEngine = std::make_shared<ScriptedRecognizer>("hello");
    button(tab, "Transcribe test sample")->click();
    EXPECT_TRUE(pumpUntil([&] { return shows(tab, "Result: hello"); }, 10.0));
}

// Each tab as the user meets it, saved for a look, and what only its widgets do.
TEST_F(SettingsWindowX11, EveryTabDrawsItsContent) {
    install("multi", ModelSlot::multilingual);
    state->engineStatus.set(WhisperStatus::loading());
    state->lastResetTime.set(queue->now() - std::chrono::minutes(5));
    defaults.setString("pttLanguage", "he");
    const char* names[] = {"general", "hotkeys", "models", "audio", "about"};
    settings->show(SettingsPage::general);
    for (int i = 0; i < 5; ++i) {
        settings->tabs()->setCurrentIndex(i);
        screenshot(QStringLiteral("ui-settings-%1-tab").arg(names[i]));
    }
    // The settings file changed by hand while the window is open: the next
    // time the tab is shown it reads the new value.
    writeFile(paths.settingsFile(), R"({"pttLanguage": "en"})");
    settings->tabs()->setCurrentIndex(0);
    QWidget* general = settings->tabs()->widget(0);
    EXPECT_TRUE(shows(general, "Last reset: 5 minutes ago"));
    EXPECT_EQ(general->findChild<QComboBox*>()->currentText(), "English only");
    // The autostart entry cannot be written: the switch stays off and says why.
    writeFile(paths.autostartFolder(), "");
    general->findChild<QCheckBox*>()->click();
    EXPECT_FALSE(general->findChild<QCheckBox*>()->isChecked());
    EXPECT_TRUE(shows(general, "could not be added to the programs started at login"));

    auto* about = static_cast<AboutTab*>(settings->tabs()->widget(4));
    about->showAcknowledgements();
    ASSERT_TRUE(pumpUntil([&] { return about->acknowledgementsWindow()->isVisible(); }, 5.0));
    EXPECT_TRUE(
        about->acknowledgementsWindow()->findChild<QPlainTextEdit*>()->toPlainText().contains(
            "Permission is hereby granted"));
}

using SettingsTabsX11 = QtDesktop;

// The Hotkeys tab with the paste hot key wired as the application wires it.
struct HotkeyWiring {
    explicit HotkeyWiring(MainQueue& queue)
        : hotKey(std::make_shared<GlobalHotKey>(hotKeys, queue, [this] { ++pastes; })),
          tab(HotkeysTab::Dependencies{
              {defaults, queue, scanQueue, [] { return std::vector<SystemShortcut>{}; }, state},
              {}}) {
        hotKey->reload(defaults);
        state->reloadPasteShortcut = [this] {
            hotKey->reload(defaults);
            return hotKey->registered() || !PasteShortcut::load(defaults);
        };
        state->suspendPasteShortcut = [this](bool on) { hotKey->suspend(on, defaults); };
        scanQueue.start();
    }
    bool recorded() {
        return pumpUntil(
            [&] { return tab.model().recording() == HotkeysTabModel::Recording::none; }, 5.0);
    }

    MemoryUserDefaults defaults;
    X11HotKeyService hotKeys;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    std::shared_ptr<GlobalHotKey> hotKey;
    SerialQueue scanQueue{"test.shortcut-scan"};
    HotkeysTab tab;
    int pastes = 0;
};

// Real key events through the tab's keyboard grab: the right-hand Ctrl counts
// as Ctrl, and the recorded paste shortcut is grabbed desktop-wide at once.
TEST_F(SettingsTabsX11, RecordedShortcutsAreStoredAndUsedAtOnce) {
    HotkeyWiring w(*queue);
    ASSERT_TRUE(w.hotKey->registered());
    showAndWait(w.tab);
    XTestKeyboard keys;
    ASSERT_TRUE(keys.ok());

    button(&w.tab, "Record New Hotkey")->click();
    pumpFor(0.1);
    keys.press("Control_R");
    keys.press("Alt_L");
    pumpFor(0.1);
    keys.release("Control_R");
    keys.release("Alt_L");
    ASSERT_TRUE(w.recorded());
    EXPECT_EQ(HotkeyBindings::load(w.defaults).pushToTalk,
              ModifierCombo{kModifierControl | kModifierOption});

    button(&w.tab, "Record New Shortcut")->click();
    pumpFor(0.1);
    keys.tap({"Control_L", "Super_L"}, "k");
    ASSERT_TRUE(w.recorded());
    EXPECT_EQ(PasteShortcut::load(w.defaults),
              (PasteShortcut{40, ModifierCombo{kModifierControl | kModifierCommand}}));
    pumpFor(0.2);
    keys.tap({"Control_L", "Super_L"}, "k");
    EXPECT_TRUE(pumpUntil([&] { return w.pastes == 1; }, 3.0));
}

TEST_F(SettingsTabsX11, NothingIsRecordedWhileAnotherApplicationHoldsTheKeyboard) {
    HotkeyWiring w(*queue);
    showAndWait(w.tab);
    {
        ForeignGrab hog;
        ASSERT_TRUE(hog.ok());
        button(&w.tab, "Record New Hotkey")->click();
        EXPECT_EQ(w.tab.model().recording(), HotkeysTabModel::Recording::none);
    }
    // Once it lets go, recording works again.
    button(&w.tab, "Record New Hotkey")->click();
    EXPECT_EQ(w.tab.model().recording(), HotkeysTabModel::Recording::dictation);
}

// The Audio tab's widgets over a real sound server: the picker lists its
// sources, and choosing one moves capture there.
TEST_F(SettingsTabsX11, ChoosingAnotherSourceInThePickerMovesCapture) {
    PulseRig rig;
    rig.start();
    rig.addVirtualMic("deskmic", 48000, 2, "float32le", "Desk Microphone");
    rig.addVirtualMic("headset", 44100, 1, "s16le", "Headset Microphone");
    rig.setDefaultSource("deskmic");
    MemoryUserDefaults defaults;
    PulseCaptureSession session(*queue, rig.serverAddress());
    session.start();
    ASSERT_TRUE(session.waitUntilConnected(5.0));
    auto state = std::make_shared<AppState>();
    state->captureEngine = std::make_shared<AudioCaptureEngine>(
        std::make_shared<AudioRingBuffer>(16000, 65.0), session, defaults,
        AudioCaptureEngine::Control::ownThread);
    ASSERT_TRUE(state->captureEngine->startSession());
    SerialQueue soundQueue{"test.sound"};
    std::unique_ptr<QWidget> widget(makeAudioTab(state, defaults, *queue, soundQueue, session));
    auto& tab = dynamic_cast<AudioTab&>(*widget);
    showAndWait(tab);
    ASSERT_TRUE(pumpUntil([&] { return tab.devicePicker()->count() == 2; }, 5.0));
    EXPECT_EQ(tab.devicePicker()->itemText(0), "Desk Microphone (Default)");
    emit tab.devicePicker()->activated(1);
    EXPECT_TRUE(pumpUntil([&] { return state->captureEngine->deviceID() == "headset"; }, 5.0));
    tab.hide();
    state->captureEngine->stop();
    soundQueue.stop();
}

}  // namespace
}  // namespace velmarune::testing
