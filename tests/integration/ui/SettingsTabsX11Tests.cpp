#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QWindow>

#include "QtPump.h"
#include "app/AppState.h"
#include "audio/AudioCaptureEngine.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/GlobalHotKey.h"
#include "hotkeys/HotkeyBindings.h"
#include "hotkeys/XTestKeyboard.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "platform/x11/X11HotKeyService.h"
#include "shell/QtMainQueue.h"
#include "shell/SettingsTabs.h"
#include "support/PulseRig.h"
#include "support/XRig.h"
#include "ui/AudioTab.h"
#include "ui/HotkeysTab.h"

namespace velmarune::testing {
namespace {

QPushButton* button(QWidget& parent, const QString& text) {
    for (auto* b : parent.findChildren<QPushButton*>()) {
        if (b->text() == text) {
            return b;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
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

    button(w.tab, "Record New Hotkey")->click();
    pumpFor(0.1);
    keys.press("Control_R");
    keys.press("Alt_L");
    pumpFor(0.1);
    keys.release("Control_R");
    keys.release("Alt_L");
    ASSERT_TRUE(w.recorded());
    EXPECT_EQ(HotkeyBindings::load(w.defaults).pushToTalk,
              ModifierCombo{kModifierControl | kModifierOption});

    button(w.tab, "Record New Shortcut")->click();
    pumpFor(0.1);
    keys.tap({"Control_L", "Super_L"}, "k");
    ASSERT_TRUE(w.recorded());
    EXPECT_EQ(PasteShortcut::load(w.defaults),
              (PasteShortcut{40, ModifierCombo{kModifierControl | kModifierCommand}}));
    pumpFor(0.2);
    keys.tap({"Control_L", "Super_L"}, "k");
    EXPECT_TRUE(pumpUntil([&] { return w.pastes == 1; }, 3.0));
    screenshot("ui-settings-hotkeys");
}

TEST_F(SettingsTabsX11, NothingIsRecordedWhileAnotherApplicationHoldsTheKeyboard) {
    HotkeyWiring w(*queue);
    showAndWait(w.tab);
    {
        ForeignGrab hog;
        ASSERT_TRUE(hog.ok());
        button(w.tab, "Record New Hotkey")->click();
        EXPECT_EQ(w.tab.model().recording(), HotkeysTabModel::Recording::none);
        EXPECT_TRUE(w.tab.model().dictationMessage().has_value());
    }
    // Once it lets go, recording works again.
    button(w.tab, "Record New Hotkey")->click();
    EXPECT_EQ(w.tab.model().recording(), HotkeysTabModel::Recording::dictation);
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
    state->captureEngine = std::make_shared<AudioCaptureEngine>(
        std::make_shared<AudioRingBuffer>(16000, 65.0), session, defaults,
        AudioCaptureEngine::Control::ownThread);
    AudioCaptureEngine& engine = *state->captureEngine;
    ASSERT_TRUE(engine.startSession());
    EXPECT_EQ(engine.deviceID(), "deskmic");
    SerialQueue soundQueue{"test.sound"};

    std::unique_ptr<QWidget> widget(makeAudioTab(state, defaults, *queue, soundQueue, session));
    auto& tab = dynamic_cast<AudioTab&>(*widget);
    showAndWait(tab);
    ASSERT_TRUE(pumpUntil([&] { return tab.devicePicker()->count() == 2; }, 5.0));
    EXPECT_EQ(tab.devicePicker()->itemText(0), "Desk Microphone (Default)");
    EXPECT_EQ(tab.devicePicker()->itemText(1), "Headset Microphone");

    // Chosen in the picker: capture moves there, and it is remembered.
    emit tab.devicePicker()->activated(1);
    ASSERT_TRUE(pumpUntil([&] { return engine.deviceID() == "headset"; }, 5.0));
    EXPECT_EQ(defaults.stringValue(kSelectedAudioInputDeviceIDKey), "headset");

    // What plays into the headset reaches the meter.
    const pid_t player = rig.play(rig.makeTone("tone", 44100, 1, 440, 1.5, 0.5), "headset_out");
    EXPECT_TRUE(pumpUntil([&] { return tab.model().level() > 0.2f; }, 5.0))
        << tab.model().levelText();
    screenshot("ui-settings-audio");
    EXPECT_TRUE(PulseRig::waitForExit(player, 5.0));

    // The sound server restarts: the picker empties, says why, and comes back.
    using MicState = AudioTabModel::MicrophoneLine::State;
    rig.kill();
    ASSERT_TRUE(
        pumpUntil([&] { return tab.model().microphoneLine().state == MicState::missing; }, 5.0));
    EXPECT_EQ(tab.devicePicker()->count(), 0);
    EXPECT_EQ(tab.model().fallbackText(), std::nullopt);  // the server is gone, not the device
    rig.start();
    addMics();
    ASSERT_TRUE(pumpUntil(
        [&] {
            return tab.model().microphoneLine().state == MicState::ready &&
                   tab.devicePicker()->count() == 2;
        },
        8.0));
    EXPECT_EQ(tab.devicePicker()->currentText(), "Headset Microphone");
    tab.hide();
    engine.stop();
    soundQueue.stop();
}

}  // namespace
}  // namespace velmarune::testing
