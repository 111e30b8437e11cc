#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "audio/AudioCaptureEngine.h"
#include "audio/WAVDecoder.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "support/PulseRig.h"

namespace velmarune {
namespace {

using Kind = CaptureSessionEvent::Kind;

// Polls `done`, running the main queue's posted work, for at most `seconds`.
template <typename Predicate>
bool eventually(ManualMainQueue& mainQueue, double seconds, Predicate done) {
    return testing::waitUntil([&] { return mainQueue.runPending(), done(); }, seconds, 0.01);
}

// Mean absolute value per 30 ms frame.
std::vector<double> envelope(const std::vector<float>& samples) {
    std::vector<double> out;
    for (size_t first = 0; first + 480 <= samples.size(); first += 480) {
        double sum = 0;
        for (size_t i = first; i < first + 480; ++i) {
            sum += std::fabs(samples[i]);
        }
        out.push_back(sum / 480);
    }
    return out;
}

// Best normalised correlation of `needle` against `haystack` over all shifts.
double bestCorrelation(const std::vector<double>& needle, const std::vector<double>& haystack) {
    double best = -1;
    for (size_t shift = 0; shift + needle.size() <= haystack.size(); ++shift) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < needle.size(); ++i) {
            ab += needle[i] * haystack[shift + i];
            aa += needle[i] * needle[i];
            bb += haystack[shift + i] * haystack[shift + i];
        }
        if (aa > 0 && bb > 0) {
            best = std::max(best, ab / std::sqrt(aa * bb));
        }
    }
    return best;
}

class PulseCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.start();
        rig.addVirtualMic("virtmic", 48000, 2, "float32le", "Virtual Microphone");
        rig.setDefaultSource("virtmic");
        session.start();
        ASSERT_TRUE(session.waitUntilConnected(5.0));
        events = session.subscribe([this](const CaptureSessionEvent& e) { seen.push_back(e); });
    }

    // The session answers from what the server told it: a source exists for
    // it once its addition has been announced.
    bool announced(const std::string& id) {
        return eventually(mainQueue, 3.0, [&] { return sawEvent(Kind::sourceAdded, id); });
    }

    bool sawEvent(Kind kind, const std::string& detail) const {
        return std::ranges::any_of(seen, [&](const CaptureSessionEvent& e) {
            return e.kind == kind && (detail.empty() || e.detail == detail);
        });
    }

    testing::PulseRig rig;
    ManualMainQueue mainQueue;
    PulseCaptureSession session{mainQueue, rig.serverAddress()};
    Subscription events;
    std::vector<CaptureSessionEvent> seen;
    MemoryUserDefaults defaults;
    std::shared_ptr<AudioRingBuffer> ring = std::make_shared<AudioRingBuffer>(16000, 65.0);
    AudioCaptureEngine engine{ring, session, defaults};
};

TEST_F(PulseCaptureTest, CapturedSpeechFollowsTheSpokenFile) {
    const auto speech = rig.makeSpeech("speech", "Hold the keys and speak, then let go.");
    const auto reference = envelope(WAVDecoder::decode(speech));
    ASSERT_TRUE(engine.startSession());
    EXPECT_EQ(engine.deviceName(), "Virtual Microphone");
    // Always on: the idle microphone delivers silence before anything plays.
    ASSERT_TRUE(eventually(mainQueue, 3.0, [&] { return engine.statsSnapshot().converted >= 3; }));
    const int64_t before = ring->totalFramesWritten();
    ASSERT_TRUE(testing::PulseRig::waitForExit(rig.play(speech, "virtmic_out"), 8.0));
    const auto wanted = static_cast<int64_t>(reference.size()) * 480 + 8000;
    ASSERT_TRUE(
        eventually(mainQueue, 3.0, [&] { return ring->totalFramesWritten() - before >= wanted; }));
    // The words arrive whole, in order and as loud as in the file: the
    // loudness contour of the capture matches the file's somewhere in the ring.
    const auto captured = envelope(ring->samples(before));
    EXPECT_GT(bestCorrelation(reference, captured), 0.95);
    EXPECT_NEAR(*std::ranges::max_element(captured) / *std::ranges::max_element(reference), 1.0,
                0.15);
    EXPECT_EQ(engine.statsSnapshot().dropped, 0);
}

// Blocks arrive 100 ms at a time between dictations and within about 20 ms
// while one records; the switch does not stop the stream.
TEST_F(PulseCaptureTest, BlocksShortenWhileRecordingAndLengthenAfter) {
    std::mutex mutex;
    std::vector<int64_t> blockFrames;
    SerialQueue queue("com.quorin.velmarune.test-delivery");
    queue.start();
    std::string error;
    auto stream = session.openStream(
        "virtmic", queue,
        [&](const CaptureBuffer& buffer) {
            std::lock_guard lock(mutex);
            blockFrames.push_back(buffer.frames);
        },
        error);
    ASSERT_NE(stream, nullptr) << error;
    // The latest `count` blocks once that many arrived after `from`.
    auto blocksAfter = [&](size_t from, size_t count) {
        std::vector<int64_t> latest;
        eventually(mainQueue, 5.0, [&] {
            std::lock_guard lock(mutex);
            if (blockFrames.size() < from + count) {
                return false;
            }
            latest.assign(blockFrames.end() - static_cast<std::ptrdiff_t>(count),
                          blockFrames.end());
            return true;
        });
        return latest;
    };
    auto received = [&] {
        std::lock_guard lock(mutex);
        return blockFrames.size();
    };
    constexpr int64_t k25Ms = 48000 / 40, k80Ms = 48000 * 8 / 100;

    for (int64_t frames : blocksAfter(1, 3)) EXPECT_GE(frames, k80Ms);
    stream->setLatency(CaptureLatency::prompt);
    // The blocks on their way when it switched may still be long.
    for (int64_t frames : blocksAfter(received() + 3, 5)) EXPECT_LE(frames, k25Ms);
    stream->setLatency(CaptureLatency::relaxed);
    for (int64_t frames : blocksAfter(received() + 3, 3)) EXPECT_GE(frames, k80Ms);
    EXPECT_TRUE(stream->isRunning());
    stream->close();
    queue.stop();
}

// The fallback rules themselves are the engine's and the level monitor's
// (unit tests); here the server's announcements reach them. (The Audio tab's
// picker test checks the listing: no monitors, names, the default.)
TEST_F(PulseCaptureTest, VanishedStoredDeviceFallsBackToDefaultAndEventsArrive) {
    EXPECT_EQ(session.device("nullsink.monitor"), std::nullopt);
    rig.addVirtualMic("usbmic", 44100, 1, "s16le", "USB Microphone");
    ASSERT_TRUE(announced("usbmic"));
    defaults.setString(kSelectedAudioInputDeviceIDKey, "usbmic");
    rig.removeSource("usbmic");
    ASSERT_TRUE(
        eventually(mainQueue, 3.0, [&] { return sawEvent(Kind::sourceRemoved, "usbmic"); }));
    ASSERT_TRUE(engine.startSession());
    EXPECT_EQ(engine.deviceID(), "virtmic");

    // A new default of another rate and sample type: capture moves there
    // and converts it without losses.
    rig.addVirtualMic("othermic", 22050, 1, "s16le", "Other Microphone");
    rig.setDefaultSource("othermic");
    ASSERT_TRUE(eventually(mainQueue, 3.0,
                           [&] { return sawEvent(Kind::defaultSourceChanged, "othermic"); }));
    engine.reconfigure("othermic");
    ASSERT_TRUE(eventually(mainQueue, 3.0,
                           [&] { return engine.statsSnapshot().sourceSampleRate == 22050; }));
    const int64_t before = ring->totalFramesWritten();
    ASSERT_TRUE(
        eventually(mainQueue, 3.0, [&] { return ring->totalFramesWritten() > before + 1600; }));
    EXPECT_EQ(engine.statsSnapshot().dropped, 0);
}

TEST_F(PulseCaptureTest, SourceThatDeliversNothingNeitherHangsNorCounts) {
    rig.addSilentPipeSource("pipemic");
    ASSERT_TRUE(announced("pipemic"));
    defaults.setString(kSelectedAudioInputDeviceIDKey, "pipemic");
    ASSERT_TRUE(engine.startSession());
    EXPECT_EQ(engine.deviceID(), "pipemic");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto stats = engine.statsSnapshot();
    EXPECT_EQ(stats.converted, 0);
    EXPECT_EQ(stats.dropped, 0);
    EXPECT_EQ(ring->totalFramesWritten(), 0);
    engine.stop();
}

TEST_F(PulseCaptureTest, EngineStartsAgainAfterTheServerIsKilledAndRestarted) {
    ASSERT_TRUE(engine.startSession());
    ASSERT_TRUE(eventually(mainQueue, 3.0, [&] { return engine.statsSnapshot().converted >= 3; }));

    rig.kill();
    ASSERT_TRUE(eventually(mainQueue, 3.0, [&] { return sawEvent(Kind::serverDisconnected, ""); }));
    EXPECT_FALSE(engine.isRunning());
    EXPECT_TRUE(sawEvent(Kind::streamFailed, ""));
    EXPECT_FALSE(engine.startSession());  // nothing to attach while the server is away

    rig.start();
    rig.addVirtualMic("virtmic", 48000, 2, "float32le", "Virtual Microphone");
    rig.setDefaultSource("virtmic");
    ASSERT_TRUE(eventually(mainQueue, 5.0, [&] { return sawEvent(Kind::serverConnected, ""); }));
    ASSERT_TRUE(engine.startSession());
    ASSERT_TRUE(eventually(mainQueue, 3.0, [&] { return engine.statsSnapshot().converted >= 3; }));
    EXPECT_TRUE(engine.isRunning());
}

TEST(PulseCaptureSessionWithoutServer, AnswersEmptyAndStartFailsQuickly) {
    ManualMainQueue mainQueue;
    testing::TempDir dir;
    PulseCaptureSession session(mainQueue, "unix:" + (dir / "no-such-socket").string());
    session.start();
    EXPECT_FALSE(session.waitUntilConnected(0.3));
    EXPECT_TRUE(session.devices().empty());
    EXPECT_EQ(session.defaultDeviceID(), std::nullopt);
    MemoryUserDefaults defaults;
    AudioCaptureEngine engine(std::make_shared<AudioRingBuffer>(16000, 1.0), session, defaults);
    EXPECT_FALSE(engine.startSession());
    std::string error;
    SerialQueue queue("q");
    EXPECT_EQ(session.openStream(
                  "virtmic", queue, [](const CaptureBuffer&) {}, error),
              nullptr);
    EXPECT_EQ(error, "not connected to the audio server");
}

TEST(PulseCaptureSessionNames, NoiseSuppressionFiltersCountAsVoiceIsolation) {
    EXPECT_TRUE(
        PulseCaptureSession::looksLikeNoiseSuppression("rnnoise_source", "Noise Canceling source"));
    EXPECT_TRUE(
        PulseCaptureSession::looksLikeNoiseSuppression("input.filter", "Noise Suppression (Mic)"));
    EXPECT_FALSE(PulseCaptureSession::looksLikeNoiseSuppression("alsa_input.usb",
                                                                "USB Audio Analog Stereo"));
}

}  // namespace
}  // namespace velmarune
