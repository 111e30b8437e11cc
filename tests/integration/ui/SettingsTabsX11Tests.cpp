#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QWindow>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "KeyboardHog.h"
#include "QtPump.h"
#include "app/AppState.h"
#include "audio/AudioCaptureEngine.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/GlobalHotKey.h"
#include "hotkeys/HotkeyBindings.h"
#include "hotkeys/HotkeyManager.h"
#include "hotkeys/XTestKeyboard.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11KeyboardMonitor.h"
#include "shell/QtMainQueue.h"
#include "shell/SettingsTabs.h"
#include "support/PulseRig.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/XRig.h"
#include "ui/AudioTab.h"
#include "ui/HotkeysTab.h"

namespace velmarune::testing {
namespace {

using Event = ModifierMatcher::Event;

// Saved beside the other views' screenshots, to be looked at.
void screenshot(QWidget& widget, const std::string& name) {
    const auto folder = std::filesystem::path(VELMARUNE_BINARY_DIR) / "ui-screenshots";
    std::filesystem::create_directories(folder);
    widget.window()->grab().save(QString::fromStdString((folder / (name + ".png")).string()));
}

QPushButton* button(QWidget& parent, const QString& text) {
    for (auto* b : parent.findChildren<QPushButton*>()) {
        if (b->text() == text) {
            return b;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

void tap(XTestKeyboard& keys, const std::vector<std::string>& modifiers, const std::string& key) {
    for (const auto& m : modifiers) keys.press(m);
    keys.press(key);
    keys.release(key);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) keys.release(*it);
}

// A private X server with a window manager and a Qt application in this
// process.
class SettingsTabsX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok());
        app = std::make_unique<QApplication>(argc, argv);
        queue = std::make_unique<QtMainQueue>(app.get());
    }
    void TearDown() override {
        queue.reset();
        app.reset();
    }
    void showAndWait(QWidget& widget) {
        widget.resize(520, 420);
        widget.show();
        ASSERT_TRUE(pumpUntil(
            [&] { return widget.windowHandle() && widget.windowHandle()->isExposed(); }, 10.0));
        pumpFor(0.2);
    }

    XRig x;
    int argc = 1;
    char name[16] = "velmarune";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QtMainQueue> queue;
};

// The listener, the paste hot key and the settings hooks as the application
// wires them.
struct HotkeyWiring {
    explicit HotkeyWiring(MainQueue& queue)
        : manager(std::make_shared<HotkeyManager>(defaults, queue, monitor)),
          hotKey(std::make_shared<GlobalHotKey>(hotKeys, queue, [this] { ++pastes; })) {
        manager->onPTTEvent = [this](const Event& e) { events.push_back(e.kind); };
        hotKey->reload(defaults);
        state->reloadHotkeys = [this] { manager->reloadBindings(); };
        state->suspendHotkeys = [this](bool on) { manager->setSuspended(on); };
        state->reloadPasteShortcut = [this] {
            hotKey->reload(defaults);
            return hotKey->registered() || !PasteShortcut::load(defaults);
        };
        state->suspendPasteShortcut = [this](bool on) { hotKey->suspend(on, defaults); };
        scanQueue.start();
    }

    HotkeysTab::Dependencies tabDependencies(MainQueue& queue) {
        return {{defaults, queue, scanQueue, [] { return std::vector<SystemShortcut>{}; }, state},
                {}};
    }

    MemoryUserDefaults defaults;
    X11KeyboardMonitor monitor;
    X11HotKeyService hotKeys;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    std::shared_ptr<HotkeyManager> manager;
    std::shared_ptr<GlobalHotKey> hotKey;
    SerialQueue scanQueue{"test.shortcut-scan"};
    std::vector<Event::Kind> events;
    int pastes = 0;
};

TEST_F(SettingsTabsX11, RecordedShortcutsAreStoredAndUsedAtOnce) {
    HotkeyWiring w(*queue);
    ASSERT_TRUE(w.manager->start());
    ASSERT_TRUE(w.hotKey->registered());
    HotkeysTab tab(w.tabDependencies(*queue));
    showAndWait(tab);
    XTestKeyboard keys;
    ASSERT_TRUE(keys.ok());

    // The chord: the old one held on the way starts no dictation; Shift let
    // go before Alt is pressed drops out; Ctrl comes from the right-hand key.
    button(tab, "Record New Hotkey")->click();
    pumpFor(0.1);
    keys.press("Control_R");
    keys.press("Shift_L");
    pumpFor(0.3);
    keys.release("Shift_L");
    keys.press("Alt_L");
    pumpFor(0.1);
    screenshot(tab, "settings-hotkeys-recording");
    keys.release("Control_R");
    keys.release("Alt_L");
    ASSERT_TRUE(pumpUntil(
        [&] { return tab.model().recording() == HotkeysTabModel::Recording::none; }, 5.0));
    EXPECT_EQ(HotkeyBindings::load(w.defaults).pushToTalk,
              ModifierCombo{kModifierControl | kModifierOption});
    EXPECT_TRUE(w.events.empty()) << "a dictation started while recording";

    // The listener answers to the new chord at once.
    keys.press("Control_L");
    keys.press("Alt_L");
    EXPECT_TRUE(pumpUntil([&] { return !w.events.empty(); }, 3.0));
    keys.release("Alt_L");
    keys.release("Control_L");
    ASSERT_TRUE(pumpUntil([&] { return w.events.size() >= 2; }, 3.0));
    EXPECT_EQ(w.events[0], Event::Kind::pushToTalkActivated);

    // The paste shortcut: recorded from the window, grabbed desktop-wide at once.
    button(tab, "Record New Shortcut")->click();
    pumpFor(0.1);
    tap(keys, {"Control_L", "Super_L"}, "k");
    ASSERT_TRUE(pumpUntil(
        [&] { return tab.model().recording() == HotkeysTabModel::Recording::none; }, 5.0));
    const PasteShortcut recorded{40, ModifierCombo{kModifierControl | kModifierCommand}};
    EXPECT_EQ(PasteShortcut::load(w.defaults), recorded);
    pumpFor(0.2);
    tap(keys, {"Control_L", "Super_L"}, "k");
    EXPECT_TRUE(pumpUntil([&] { return w.pastes == 1; }, 3.0));

    // One another application holds: refused by the X server, the old one stays.
    ForeignGrab other("j");
    ASSERT_TRUE(other.ok());
    button(tab, "Record New Shortcut")->click();
    pumpFor(0.1);
    tap(keys, {"Control_L", "Shift_L", "Super_L"}, "j");
    ASSERT_TRUE(pumpUntil([&] { return tab.model().pasteMessage().has_value(); }, 5.0));
    EXPECT_EQ(*tab.model().pasteMessage(),
              "Ctrl+Shift+Super+J is already taken by another application. Your shortcut stays "
              "Ctrl+Super+K.");
    EXPECT_EQ(PasteShortcut::load(w.defaults), recorded);
    pumpFor(0.2);
    screenshot(tab, "settings-hotkeys-refused");
    tap(keys, {"Control_L", "Super_L"}, "k");
    EXPECT_TRUE(pumpUntil([&] { return w.pastes == 2; }, 3.0));
    w.manager->stop();
}

TEST_F(SettingsTabsX11, NothingIsRecordedWhileAnotherApplicationHoldsTheKeyboard) {
    HotkeyWiring w(*queue);
    HotkeysTab tab(w.tabDependencies(*queue));
    showAndWait(tab);
    {
        KeyboardHog hog;
        ASSERT_TRUE(hog.ok());
        button(tab, "Record New Hotkey")->click();
        EXPECT_EQ(tab.model().recording(), HotkeysTabModel::Recording::none);
        ASSERT_TRUE(tab.model().dictationMessage().has_value());
        EXPECT_NE(tab.model().dictationMessage()->find("holding the keyboard"), std::string::npos);
    }
    // Once it lets go, recording works again.
    button(tab, "Record New Hotkey")->click();
    EXPECT_EQ(tab.model().recording(), HotkeysTabModel::Recording::dictation);
    button(tab, "Cancel")->click();
    EXPECT_EQ(HotkeyBindings::load(w.defaults).pushToTalk, HotkeyBindings{}.pushToTalk);
}

TEST_F(SettingsTabsX11, ChoosingAnotherSourceMovesCaptureAndTheTabSurvivesAServerRestart) {
    PulseRig rig;
    rig.start();
    const auto addMics = [&] {
        rig.addVirtualMic("deskmic", 48000, 2, "float32le", "Desk Microphone");
        rig.addVirtualMic("headset", 44100, 1, "s16le", "Headset Microphone");
        rig.setDefaultSource("deskmic");
    };
    addMics();
    MemoryUserDefaults defaults;
    PulseCaptureSession session(*queue, rig.serverAddress());
    session.start();
    ASSERT_TRUE(session.waitUntilConnected(5.0));
    auto state = std::make_shared<AppState>();
    auto ring = std::make_shared<AudioRingBuffer>(16000, 65.0);
    state->captureEngine = std::make_shared<AudioCaptureEngine>(
        ring, session, defaults, AudioCaptureEngine::Control::ownThread);
    AudioCaptureEngine& engine = *state->captureEngine;
    ASSERT_TRUE(engine.startSession());
    EXPECT_EQ(engine.deviceID(), "deskmic");
    SerialQueue soundQueue{"test.sound"};

    // A sound settings program on PATH that notes how it was started.
    TempDir bin{"velmarune-bin"};
    {
        std::ofstream script(bin / "pavucontrol");
        script << "#!/bin/sh\necho \"$@\" > " << (bin / "started").string() << "\n";
    }
    std::filesystem::permissions(bin / "pavucontrol", std::filesystem::perms::owner_all);
    ScopedEnv path("PATH", bin.path().string() + ":" + std::getenv("PATH"));
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", "XFCE");

    std::unique_ptr<QWidget> widget(makeAudioTab(state, defaults, *queue, soundQueue, session));
    auto& tab = dynamic_cast<AudioTab&>(*widget);
    showAndWait(tab);
    ASSERT_TRUE(pumpUntil([&] { return tab.devicePicker()->count() == 2; }, 5.0));
    EXPECT_EQ(tab.devicePicker()->itemText(0), "Desk Microphone (Default)");
    EXPECT_EQ(tab.devicePicker()->itemText(1), "Headset Microphone");
    EXPECT_EQ(tab.model().deviceIDText(), "Device ID: deskmic");

    // Chosen in the picker: capture moves there, and it is remembered.
    emit tab.devicePicker()->activated(1);
    ASSERT_TRUE(pumpUntil([&] { return engine.deviceID() == "headset"; }, 5.0));
    EXPECT_EQ(defaults.stringValue(kSelectedAudioInputDeviceIDKey), "headset");
    EXPECT_EQ(tab.model().deviceIDText(), "Device ID: headset");

    // What plays into the headset reaches the ring and the meter.
    const auto tone = rig.makeTone("tone", 44100, 1, 440, 1.5, 0.5);
    const int64_t before = ring->totalFramesWritten();
    const pid_t player = rig.play(tone, "headset_out");
    EXPECT_TRUE(pumpUntil([&] { return tab.model().level() > 0.2f; }, 5.0))
        << tab.model().levelText();
    screenshot(tab, "settings-audio");
    button(tab, "Open Sound Settings")->click();
    EXPECT_TRUE(pumpUntil([&] { return std::filesystem::exists(bin / "started"); }, 5.0));
    EXPECT_TRUE(PulseRig::waitForExit(player, 5.0));
    EXPECT_GT(ring->totalFramesWritten() - before, 16000);

    // The sound server restarts: the picker empties, says why, and comes back.
    using MicState = AudioTabModel::MicrophoneLine::State;
    rig.kill();
    ASSERT_TRUE(
        pumpUntil([&] { return tab.model().microphoneLine().state == MicState::missing; }, 5.0));
    EXPECT_EQ(tab.devicePicker()->count(), 0);
    EXPECT_EQ(tab.model().fallbackText(),
              std::nullopt);  // the server is gone, not the device
    pumpFor(0.2);
    screenshot(tab, "settings-audio-no-server");
    rig.start();
    addMics();
    ASSERT_TRUE(pumpUntil(
        [&] {
            return tab.model().microphoneLine().state == MicState::ready &&
                   tab.devicePicker()->count() == 2;
        },
        8.0));
    EXPECT_EQ(tab.devicePicker()->currentText(), "Headset Microphone");
    EXPECT_EQ(tab.model().deviceIDText(), "Device ID: headset");
    tab.hide();
    engine.stop();
    soundQueue.stop();
}

}  // namespace
}  // namespace velmarune::testing
