#include <gtest/gtest.h>

#include "audio/AudioCaptureEngine.h"
#include "audio/AudioLevelMonitor.h"
#include "foundation/ManualMainQueue.h"
#include "platform/fake/FakeCaptureSession.h"

namespace velmarune {
namespace {

using State = AudioLevelMonitor::PermissionState;

class AudioLevelMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session.setDevices(
            {{"builtin", "Built-in Microphone", false}, {"usb", "USB Headset", false}});
        session.setDefaultDeviceID("builtin");
        monitor.setCaptureEngine(&engine);
    }

    std::vector<std::string> selectedLog() const { return sink->messages("AudioCaptureEngine"); }

    std::shared_ptr<CapturingLogSink> sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scopedSink{sink};
    ManualMainQueue mainQueue;
    FakeCaptureSession session;
    MemoryUserDefaults defaults;
    std::shared_ptr<AudioRingBuffer> ring = std::make_shared<AudioRingBuffer>(16000, 65.0);
    AudioCaptureEngine engine{ring, session, defaults};
    // As in the application: no permission to ask, the server's answer decides.
    AudioLevelMonitor monitor{mainQueue, session, defaults, {}};
};

TEST_F(AudioLevelMonitorTest, MeterReadings) {
    struct Case {
        std::vector<float> samples;
        float db;
        float level;
    };
    std::vector<float> square(1600);
    for (size_t i = 0; i < square.size(); ++i) {
        square[i] = i % 2 == 0 ? 1.0f : -1.0f;
    }
    const std::vector<Case> cases{
        {{}, -160.0f, 0.0f},
        {std::vector<float>(1600, 0.0f), -160.0f, 0.001f},
        {square, 0.0f, 1.0f},
        {std::vector<float>(1600, 0.1f), -20.0f, 0.1f},
        {std::vector<float>(1600, 0.0001f), -80.0f, 0.001f},
    };
    for (const auto& c : cases) {
        const auto [db, level] = AudioLevelMonitor::meterReading(c.samples);
        EXPECT_NEAR(db, c.db, 1e-3);
        EXPECT_NEAR(level, c.level, 1e-5);
    }
}

TEST_F(AudioLevelMonitorTest, StartEnumeratesSelectsAndRunsTheMeter) {
    defaults.setString(kSelectedAudioInputDeviceIDKey, "usb");
    monitor.start();
    EXPECT_EQ(monitor.availableDevices().get(),
              (std::vector<AudioInputDevice>{{"builtin", "Built-in Microphone", true},
                                             {"usb", "USB Headset", false}}));
    EXPECT_EQ(monitor.selectedDeviceID().get(), "usb");
    EXPECT_EQ(monitor.permissionState().get(), State::authorized);
    EXPECT_TRUE(sink->contains("AudioLevelMonitor started (RMS reader)"));

    mainQueue.advance(0.1);
    EXPECT_EQ(monitor.peakLevel().get(), 0.0f);  // nothing captured yet

    ASSERT_TRUE(engine.startSession());
    session.deliverFloats(std::vector<float>(3200, 0.1f), 16000, 1, 320);
    mainQueue.advance(1.0 / 30.0);
    EXPECT_NEAR(monitor.peakDb().get(), -20.0f, 1e-3);

    monitor.stop();
    EXPECT_EQ(monitor.peakLevel().get(), 0.0f);
    EXPECT_EQ(monitor.peakDb().get(), -160.0f);
    mainQueue.advance(1.0);
    EXPECT_EQ(mainQueue.pendingCount(), 0u);
}

TEST_F(AudioLevelMonitorTest, StoredDeviceMissingAtOpenShowsDefaultWithoutMessage) {
    defaults.setString(kSelectedAudioInputDeviceIDKey, "gone");
    monitor.start();
    EXPECT_EQ(monitor.selectedDeviceID().get(), "builtin");
    EXPECT_EQ(monitor.deviceFallbackReason().get(), std::nullopt);
    EXPECT_EQ(defaults.stringValue(kSelectedAudioInputDeviceIDKey), "gone");
}

TEST_F(AudioLevelMonitorTest, SelectedDeviceVanishingFallsBackOnNotification) {
    ASSERT_TRUE(engine.startSession());
    monitor.start();
    monitor.select("usb");
    EXPECT_EQ(defaults.stringValue(kSelectedAudioInputDeviceIDKey), "usb");
    EXPECT_EQ(engine.deviceID(), "usb");

    session.setDevices({{"builtin", "Built-in Microphone", false}});
    session.emit({CaptureSessionEvent::Kind::sourceRemoved, "usb"});
    mainQueue.runPending();
    EXPECT_EQ(monitor.deviceFallbackReason().get(),
              "Previously-selected device unavailable. Falling back to Built-in Microphone.");
    EXPECT_EQ(monitor.selectedDeviceID().get(), "builtin");
    EXPECT_EQ(defaults.stringValue(kSelectedAudioInputDeviceIDKey), "builtin");
    EXPECT_EQ(engine.deviceID(), "builtin");

    // Selecting clears the message; picking the same device again still reconfigures.
    monitor.select("builtin");
    EXPECT_EQ(monitor.deviceFallbackReason().get(), std::nullopt);
    EXPECT_EQ(sink->count("reconfigure -> Built-in Microphone"), 2u);

    // With no default left to fall back on, the choice is kept for its return.
    session.setDevices({});
    session.setDefaultDeviceID(std::nullopt);
    monitor.refreshDevices();
    EXPECT_EQ(monitor.deviceFallbackReason().get(),
              "Previously-selected device unavailable. Falling back to system default.");
    EXPECT_EQ(monitor.selectedDeviceID().get(), std::nullopt);
    EXPECT_EQ(defaults.stringValue(kSelectedAudioInputDeviceIDKey), "builtin");
}

TEST_F(AudioLevelMonitorTest, MonitorGoneBeforeItsTickIsHarmless) {
    auto other = std::make_unique<AudioLevelMonitor>(mainQueue, session, defaults, nullptr);
    other->start();
    other.reset();
    session.emit({CaptureSessionEvent::Kind::sourceAdded, "x"});
    mainQueue.advance(1.0);
}

}  // namespace
}  // namespace velmarune
