#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "PipelineFixture.h"
#include "audio/AudioCaptureEngine.h"
#include "foundation/UserDefaults.h"
#include "platform/fake/FakeCaptureSession.h"
#include "support/Process.h"

namespace velmarune::testing {
namespace {

// The real capture engine, but the test can hold a delivered block between
// its append to the ring and its hand-over to the recording, the moment a
// press can fall into.
class GatedCaptureEngine : public AudioCaptureEngine {
  public:
    using AudioCaptureEngine::AudioCaptureEngine;

    void holdNextBlock() {
        std::lock_guard lock(m_mutex);
        m_holding = true;
        m_held = false;
    }
    bool waitUntilHeld() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [this] { return m_held; });
    }
    void letGo() {
        {
            std::lock_guard lock(m_mutex);
            m_holding = false;
        }
        m_changed.notify_all();
    }
    // Runs after the ring append and before the samples callback.
    void setOnBufferReceived(std::function<void()> callback) override {
        AudioCaptureEngine::setOnBufferReceived([this, callback = std::move(callback)] {
            {
                std::unique_lock lock(m_mutex);
                if (m_holding) {
                    m_held = true;
                    m_changed.notify_all();
                    m_changed.wait_for(lock, std::chrono::seconds(5),
                                       [this] { return !m_holding; });
                }
            }
            callback();
        });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_holding = false;
    bool m_held = false;
};

// The pipeline on the real capture engine: blocks of a ramp (each sample is
// its own running index) arrive on the real delivery queue while the chord
// goes down, so any lost or doubled sample shows as a step other than one.
class PrerollHandOver : public PipelineFixture {
  protected:
    void SetUp() override {
        session.setDevices({{"mic", "Microphone", false}});
        session.setDefaultDeviceID("mic");
        PipelineFixture::SetUp();
        ASSERT_TRUE(engine->startSession());
    }
    void TearDown() override {
        pipeline.reset();
        engine.reset();
    }
    std::shared_ptr<CaptureSource> captureSource() override { return engine; }
    const std::vector<Samples>& recorded() const { return hebrew->heard; }

    // Delivers `blocks` blocks of the ramp, continuing where it stopped.
    void deliverRamp(int blocks) {
        for (int b = 0; b < blocks; ++b) {
            std::vector<float> block(kBlockFrames);
            for (float& sample : block) {
                sample = static_cast<float>(next++);
            }
            ASSERT_TRUE(session.deliverFloats(block, 16000, 1, kBlockFrames));
        }
    }

    static void expectContiguous(const Samples& samples) {
        ASSERT_FALSE(samples.empty());
        for (size_t i = 1; i < samples.size(); ++i) {
            if (samples[i] != samples[i - 1] + 1.0f) {
                FAIL() << "sample " << i << " is " << samples[i] << " after " << samples[i - 1];
            }
        }
    }

    static constexpr int64_t kBlockFrames = 160;
    FakeCaptureSession session;
    MemoryUserDefaults settings;
    std::shared_ptr<GatedCaptureEngine> engine = std::make_shared<GatedCaptureEngine>(
        std::make_shared<AudioRingBuffer>(16000, 65.0), session, settings);
    int64_t next = 1;
};

TEST_F(PrerollHandOver, ABlockInTheRingBeforeThePressIsNotRecordedAgain) {
    deliverRamp(100);
    engine->holdNextBlock();
    std::thread delivery([this] { deliverRamp(1); });
    ASSERT_TRUE(engine->waitUntilHeld());
    pipeline->press();  // the held block is already in the ring: it is pre-roll
    engine->letGo();
    delivery.join();
    deliverRamp(50);
    pipeline->release();
    finishDecoding();

    ASSERT_EQ(recorded().size(), 1u);
    expectContiguous(recorded()[0]);
    EXPECT_EQ(recorded()[0].front(), static_cast<float>(next - 8000 - 50 * kBlockFrames));
    EXPECT_EQ(recorded()[0].back(), static_cast<float>(next - 1));
}

TEST_F(PrerollHandOver, PressesDuringContinuousDeliveryLoseAndDoubleNothing) {
    std::atomic<bool> stop{false};
    std::thread delivery([&] {
        while (!stop) {
            deliverRamp(1);
        }
    });
    const auto ringFrames = [this] { return engine->ringBuffer()->totalFramesWritten(); };
    const auto waitForFrames = [&](int64_t frames) {
        return waitUntil([&] { return ringFrames() >= frames; }, 10.0, 0.0);
    };
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(waitForFrames(ringFrames() + 1000));
        pipeline->press();
        ASSERT_TRUE(waitForFrames(ringFrames() + 6000));
        pipeline->release();
        finishDecoding();
        for (size_t p = 0; p < pastes().size(); ++p) {
            completePaste(p);
        }
        pastes().clear();
    }
    stop = true;
    delivery.join();

    ASSERT_EQ(recorded().size(), 40u);
    for (const Samples& samples : recorded()) {
        expectContiguous(samples);
    }
}

}  // namespace
}  // namespace velmarune::testing
