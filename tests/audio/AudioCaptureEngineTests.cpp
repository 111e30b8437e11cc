#include <gtest/gtest.h>

#include <memory>

#include "audio/AudioCaptureEngine.h"
#include "audio/AudioLevelMonitor.h"
#include "foundation/ManualMainQueue.h"
#include "platform/fake/FakeCaptureSession.h"
#include "support/CapturingLogSink.h"
#include "support/Process.h"

namespace velmarune {
namespace {

class AudioCaptureEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session.setDevices({{"builtin", "Built-in Microphone", false},
                            {"usb", "USB Headset", false},
                            {"rnnoise_source", "Noise Suppression Source", true}});
        session.setDefaultDeviceID("builtin");
    }

    std::vector<std::string> engineLog() const { return sink->messages("AudioCaptureEngine"); }

    std::shared_ptr<CapturingLogSink> sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scopedSink{sink};
    FakeCaptureSession session;
    MemoryUserDefaults defaults;
    std::shared_ptr<AudioRingBuffer> ring = std::make_shared<AudioRingBuffer>(16000, 65.0);
    AudioCaptureEngine engine{ring, session, defaults};
};

TEST_F(AudioCaptureEngineTest, ResolvesStoredDeviceThenDefault) {
    EXPECT_EQ(AudioCaptureEngine::resolveDeviceID(session, defaults), "builtin");
    defaults.setString(kSelectedAudioInputDeviceIDKey, "usb");
    EXPECT_EQ(AudioCaptureEngine::resolveDeviceID(session, defaults), "usb");
    defaults.setString(kSelectedAudioInputDeviceIDKey, "unplugged");
    EXPECT_EQ(AudioCaptureEngine::resolveDeviceID(session, defaults), "builtin");
    EXPECT_EQ(defaults.stringValue(kSelectedAudioInputDeviceIDKey), "unplugged");
    session.setDefaultDeviceID(std::nullopt);
    EXPECT_EQ(AudioCaptureEngine::resolveDeviceID(session, defaults), std::nullopt);
}

TEST_F(AudioCaptureEngineTest, StartLogsDeviceAndPinningAndFillsRingWithConvertedAudio) {
    defaults.setString(kSelectedAudioInputDeviceIDKey, "usb");
    ASSERT_TRUE(engine.startSession());
    EXPECT_TRUE(engine.isRunning());
    EXPECT_EQ(engine.deviceName(), "USB Headset");
    EXPECT_EQ(engine.deviceID(), "usb");

    std::vector<std::string> order;
    std::vector<float> appended;
    engine.setOnBufferReceived([&] { order.push_back("buffer"); });
    engine.setOnSamplesAppended([&](const float* samples, size_t count, int64_t) {
        // The ring already holds the block when the callbacks run.
        order.push_back("samples@" + std::to_string(ring->totalFramesWritten()));
        appended.insert(appended.end(), samples, samples + count);
    });
    const std::vector<float> block(160, 0.25f);
    ASSERT_TRUE(session.deliverFloats(block, 16000, 1, 160));
    ASSERT_TRUE(session.deliverFloats(block, 16000, 1, 160));

    EXPECT_EQ(order, (std::vector<std::string>{"buffer", "samples@160", "buffer", "samples@320"}));
    EXPECT_EQ(appended, std::vector<float>(320, 0.25f));
    EXPECT_EQ(ring->samples(0), appended);
    EXPECT_EQ(engine.statsSnapshot().converted, 2);
    EXPECT_EQ(engineLog().front(), "start: device=USB Headset pinned=true");
}

TEST_F(AudioCaptureEngineTest, StartFailsWithoutDeviceOrStream) {
    session.setDefaultDeviceID(std::nullopt);
    EXPECT_FALSE(engine.startSession());
    EXPECT_TRUE(session.openedDeviceIDs().empty());
    session.setDefaultDeviceID("builtin");
    session.setOpenError("Connection refused");
    EXPECT_FALSE(engine.startSession());
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engineLog(), (std::vector<std::string>{
                               "start: no audio input device available",
                               "start: device=Built-in Microphone pinned=false",
                               "start: device input init failed: Connection refused",
                           }));
}

TEST_F(AudioCaptureEngineTest, StartWhileRunningKeepsStatsAndFormatChangesAreCounted) {
    ASSERT_TRUE(engine.startSession());
    session.deliverFloats(std::vector<float>(960, 0.1f), 16000, 2, 480);
    ASSERT_TRUE(engine.startSession());
    EXPECT_EQ(engine.statsSnapshot().converted, 1);
    EXPECT_EQ(session.openedDeviceIDs().size(), 1u);

    // 0.2 s at 44.1 kHz in 10 ms blocks: the resampler's first blocks yield
    // nothing (neither converted nor dropped), the rest are converted.
    session.deliverInt16(std::vector<int16_t>(8820, 1000), 44100, 1, 441);
    auto stats = engine.statsSnapshot();
    EXPECT_EQ(stats.formatChanges, 1);
    EXPECT_GT(stats.converted, 10);
    EXPECT_EQ(stats.dropped, 0);
    EXPECT_EQ(stats.sourceSampleRate, 44100);
    EXPECT_NEAR(static_cast<double>(ring->totalFramesWritten()), 480 + 3200, 700);
    EXPECT_EQ(
        sink->count(
            "source format: rate=44100.000000 channels=1 type=int16 interleaved=true change=true"),
        1u);

    // A restart resets the counters, and its first format is not a change.
    engine.stop();
    EXPECT_FALSE(engine.isRunning());
    ASSERT_TRUE(engine.startSession());
    session.deliverFloats(std::vector<float>(960, 0.1f), 16000, 2, 480);
    stats = engine.statsSnapshot();
    EXPECT_EQ(stats.formatChanges, 0);
    EXPECT_EQ(stats.converted, 1);
    EXPECT_EQ(sink->count("session stopped"), 1u);
}

TEST_F(AudioCaptureEngineTest, BadBlocksAreDroppedOrIgnoredWithoutStoppingCapture) {
    ASSERT_TRUE(engine.startSession());
    const std::vector<float> samples(480, 0.2f);
    const CaptureFormat good{16000, 1, CaptureSampleType::float32, true};
    const CaptureBuffer goodBlock{good, samples.data(), 1920, 480};
    const CaptureBuffer odd{CaptureFormat{48000, 1, CaptureSampleType::other, true}, samples.data(),
                            1920, 480};
    ASSERT_TRUE(session.deliver(goodBlock));
    struct Case {
        const char* what;
        CaptureBuffer buffer;
        int64_t dropped;
    };
    const std::vector<Case> cases{
        {"zero frames", {good, samples.data(), 0, 0}, 0},
        {"no format", {std::nullopt, samples.data(), 1920, 480}, 1},
        {"data shorter than frames", {good, samples.data(), 100, 480}, 1},
        {"no channels",
         {CaptureFormat{48000, 0, CaptureSampleType::float32, true}, samples.data(), 1920, 480},
         1},
        {"unreadable type", odd, 1},
        {"unreadable type again", odd, 1},
        {"unreadable type once more", odd, 1},
    };
    for (const auto& c : cases) {
        const auto before = engine.statsSnapshot();
        ASSERT_TRUE(session.deliver(c.buffer));
        const auto after = engine.statsSnapshot();
        EXPECT_EQ(after.dropped - before.dropped, c.dropped) << c.what;
        EXPECT_EQ(after.converted, before.converted) << c.what;
    }
    // An unreadable format is logged once, not on every block, and leaving
    // the working format was the one change.
    EXPECT_EQ(
        sink->count(
            "source format: rate=48000.000000 channels=1 type=other interleaved=true change=true"),
        1u);
    EXPECT_EQ(engine.statsSnapshot().formatChanges, 1);
    // The next good block converts.
    session.deliver(goodBlock);
    EXPECT_EQ(engine.statsSnapshot().converted, 2);
    EXPECT_TRUE(engine.isRunning());
}

TEST_F(AudioCaptureEngineTest, ReconfigureSwapsInputKeepingStats) {
    ASSERT_TRUE(engine.startSession());
    session.deliverFloats(std::vector<float>(960, 0.1f), 16000, 2, 480);
    engine.reconfigure("rnnoise_source");
    EXPECT_EQ(session.openedDeviceIDs(), (std::vector<std::string>{"builtin", "rnnoise_source"}));
    EXPECT_EQ(engine.deviceName(), "Noise Suppression Source");
    EXPECT_EQ(engine.micMode(), MicMode::voiceIsolation);
    // Converter cache was cleared: a new format is a first format, not a change.
    session.deliverFloats(std::vector<float>(160, 0.1f), 16000, 1, 160);
    auto stats = engine.statsSnapshot();
    EXPECT_EQ(stats.converted, 2);
    EXPECT_EQ(stats.formatChanges, 0);
    EXPECT_TRUE(engine.isRunning());

    engine.reconfigure("gone");
    session.setOpenError("No such entity");
    engine.reconfigure("usb");
    EXPECT_TRUE(sink->contains("reconfigure: no capture device for the stored id"));
    EXPECT_TRUE(sink->contains("reconfigure failed: No such entity"));
    EXPECT_FALSE(engine.isRunning());
    EXPECT_EQ(engine.micMode(),
              MicMode::voiceIsolation);  // device name/id stay with the last attached
}

// Short blocks only while a dictation records, also on a stream the
// watchdog reopens in the middle of one.
TEST_F(AudioCaptureEngineTest, StreamHurriesOnlyWhileRecording) {
    ASSERT_TRUE(engine.startSession());
    EXPECT_EQ(session.latency(), CaptureLatency::relaxed);
    engine.setRecording(true);
    EXPECT_EQ(session.latency(), CaptureLatency::prompt);
    engine.restart();
    EXPECT_EQ(session.openedDeviceIDs().size(), 2u);
    EXPECT_EQ(session.latency(), CaptureLatency::prompt);
    engine.setRecording(false);
    EXPECT_EQ(session.latency(), CaptureLatency::relaxed);
}

// On its own control thread (as in the application) a restart ends with the
// capture running on a fresh stream, not stopped by a stop queued behind it.
TEST_F(AudioCaptureEngineTest, RestartOnTheControlThreadLeavesCaptureRunning) {
    AudioCaptureEngine owned(ring, session, defaults, AudioCaptureEngine::Control::ownThread);
    owned.start();
    ASSERT_TRUE(testing::waitUntil([&] { return owned.isRunning(); }, 5.0));
    owned.restart();
    EXPECT_TRUE(testing::waitUntil(
        [&] { return session.openedDeviceIDs().size() == 2 && owned.isRunning(); }, 5.0));
}

// The level monitor over the same engine, as the settings' audio tab runs it:
// no permission to ask, the server's answer decides.
class AudioLevelMonitorTest : public AudioCaptureEngineTest {
  protected:
    void SetUp() override {
        AudioCaptureEngineTest::SetUp();
        monitor.setCaptureEngine(&engine);
    }

    ManualMainQueue mainQueue;
    AudioLevelMonitor monitor{mainQueue, session, defaults, {}};
};

TEST(AudioLevelMonitor, MeterReadings) {
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
    EXPECT_EQ(
        monitor.availableDevices().get(),
        (std::vector<AudioInputDevice>{{"builtin", "Built-in Microphone", true},
                                       {"usb", "USB Headset", false},
                                       {"rnnoise_source", "Noise Suppression Source", false}}));
    EXPECT_EQ(monitor.selectedDeviceID().get(), "usb");
    EXPECT_EQ(monitor.permissionState().get(), AudioLevelMonitor::PermissionState::authorized);

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
