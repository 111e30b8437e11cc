#include <gtest/gtest.h>

#include <set>

#include "audio/AudioCaptureEngine.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "platform/fake/FakeCaptureSession.h"
#include "ui/AudioTabModel.h"

namespace velmarune {
namespace {

using Listing = AudioLevelMonitor::SourceListing;
using State = AudioTabModel::MicrophoneLine::State;

const CaptureDevice kBuiltin{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio", false};
const CaptureDevice kFilter{"noise_suppressed_source", "Noise Suppressed Microphone", true};

struct AudioRig {
    ManualMainQueue queue;
    ManualExecutor prober;
    FakeCaptureSession session;
    MemoryUserDefaults defaults;
    AudioCaptureEngine engine{std::make_shared<AudioRingBuffer>(16000, 65.0), session, defaults};
    Listing listing{true, {kBuiltin, kFilter}, kBuiltin.id};
    std::vector<std::vector<std::string>> launched;
    AudioTabModel model{{queue, prober, session, [this] { return listing; }, defaults, &engine,
                         std::vector<std::string>{"pavucontrol", "--tab=4"},
                         [this](const std::vector<std::string>& command) {
                             launched.push_back(command);
                             return true;
                         }}};

    AudioRig() { session.setDevices({kBuiltin, kFilter}); }
    // The sound server's answer arrives from the prober thread.
    void answer() {
        prober.runAll();
        queue.runPending();
    }
};

TEST(AudioTabModel, TextsFollowTheServerTheDevicesAndTheChoice) {
    AudioRig rig;
    rig.model.shown();
    // The server is asked off the main thread: nothing is known until it answers.
    EXPECT_EQ(rig.model.microphoneLine().status, "Checking…");
    EXPECT_TRUE(rig.model.deviceRows().empty());
    rig.answer();

    EXPECT_EQ(rig.model.deviceRows(),
              (std::vector<AudioTabModel::DeviceRow>{{kBuiltin.id, "Built-in Audio (Default)"},
                                                     {kFilter.id, "Noise Suppressed Microphone"}}));
    EXPECT_EQ(rig.model.deviceIDText(), "Device ID: " + kBuiltin.id);
    EXPECT_EQ(rig.model.micModeText(), "Standard");
    EXPECT_EQ(rig.model.microphoneLine().state, State::ready);
    EXPECT_EQ(rig.model.levelText(), "-160 dB");

    // Choosing applies at once: stored, and capture moves to it.
    rig.model.choose(kFilter.id);
    EXPECT_EQ(rig.defaults.stringValue(kSelectedAudioInputDeviceIDKey), kFilter.id);
    EXPECT_EQ(rig.engine.deviceID(), kFilter.id);
    EXPECT_EQ(rig.model.micModeText(), "Voice Isolation");

    struct Case {
        Listing listing;
        State state;
        std::string status;
        std::string fix;
    };
    const Case cases[] = {
        {{false, {}, std::nullopt},
         State::missing,
         "Sound server not running",
         "Velmarune can't reach the sound server (PipeWire or PulseAudio). Start it, or log in to "
         "a desktop session with sound. This tab updates by itself when it is back."},
        {{true, {}, std::nullopt},
         State::missing,
         "No microphone",
         "The sound server is running but offers no microphone. Plug in a microphone or headset, "
         "or turn on an input in your sound settings."},
    };
    for (const auto& c : cases) {
        rig.listing = c.listing;
        rig.model.refreshDevices();
        rig.answer();
        const auto line = rig.model.microphoneLine();
        EXPECT_EQ(line.state, c.state);
        EXPECT_EQ(line.status, c.status);
        EXPECT_EQ(line.fix, c.fix);
        EXPECT_EQ(rig.model.levelText(), "Input levels appear once a microphone is available.");
        EXPECT_TRUE(rig.model.deviceRows().empty());
        EXPECT_EQ(rig.model.deviceIDText(), "");
    }

    rig.model.openSoundSettings();
    EXPECT_EQ(rig.launched, (std::vector<std::vector<std::string>>{{"pavucontrol", "--tab=4"}}));
}

TEST(AudioTabModel, TheMeterRunsOnlyWhileShown) {
    AudioRig rig;
    rig.model.shown();
    rig.answer();
    EXPECT_GT(rig.queue.advance(1.0), 20u);  // about 30 readings a second
    rig.model.hidden();
    rig.queue.advance(1.0);
    EXPECT_EQ(rig.queue.pendingCount(), 0u);

    // An answer that comes back after the tab was hidden starts nothing.
    rig.model.shown();
    rig.model.hidden();
    rig.answer();
    rig.queue.advance(1.0);
    EXPECT_EQ(rig.queue.pendingCount(), 0u);
}

TEST(SoundSettingsCommand, PrefersTheRunningDesktopsOwnThenPavucontrol) {
    struct Case {
        std::string desktop;
        std::set<std::string> installed;
        std::optional<std::vector<std::string>> command;
    };
    using Command = std::vector<std::string>;
    const Case cases[] = {
        {"ubuntu:GNOME",
         {"gnome-control-center", "pavucontrol"},
         Command{"gnome-control-center", "sound"}},
        {"KDE", {"kcmshell6", "pavucontrol"}, Command{"kcmshell6", "kcm_pulseaudio"}},
        // Another desktop's settings program is not offered outside it.
        {"XFCE", {"gnome-control-center", "pavucontrol"}, Command{"pavucontrol", "--tab=4"}},
        {"GNOME", {"pavucontrol-qt"}, Command{"pavucontrol-qt", "--tab=4"}},
        {"", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(soundSettingsCommand(
                      c.desktop, [&](const std::string& p) { return c.installed.count(p) > 0; }),
                  c.command)
            << c.desktop;
    }
}

}  // namespace
}  // namespace velmarune
