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

// Lets the test hold a delivered block between its append to the ring and its
// hand-over to the recording, the moment a press can fall into.
class GatedCaptureSource : public CaptureSource {
  public:
    explicit GatedCaptureSource(std::shared_ptr<AudioCaptureEngine> engine)
        : m_engine(std::move(engine)) {}

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

    RingTail ringTail(int64_t frames) override { return m_engine->ringTail(frames); }
    void resetRing() override { m_engine->resetRing(); }
    CaptureStats statsSnapshot() const override { return m_engine->statsSnapshot(); }
    void start() override { m_engine->start(); }
    void stop() override { m_engine->stop(); }
    void restart() override { m_engine->restart(); }
    void reselectInput() override { m_engine->reselectInput(); }
    void setRecording(bool recording) override { m_engine->setRecording(recording); }
    MicMode micMode() override { return m_engine->micMode(); }
    bool isRunning() const override { return m_engine->isRunning(); }
    std::optional<std::string> deviceName() const override { return m_engine->deviceName(); }
    std::optional<std::string> deviceID() const override { return m_engine->deviceID(); }
    void setOnSamplesAppended(SamplesAppended callback) override {
        m_engine->setOnSamplesAppended(std::move(callback));
    }
    // Runs after the ring append and before the samples callback.
    void setOnBufferReceived(std::function<void()> callback) override {
        m_engine->setOnBufferReceived([this, callback = std::move(callback)] {
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
    std::shared_ptr<AudioCaptureEngine> m_engine;
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
        gated.reset();
        engine.reset();
    }
    std::shared_ptr<CaptureSource> captureSource() override { return gated; }
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
    std::shared_ptr<AudioCaptureEngine> engine = std::make_shared<AudioCaptureEngine>(
        std::make_shared<AudioRingBuffer>(16000, 65.0), session, settings);
    std::shared_ptr<GatedCaptureSource> gated = std::make_shared<GatedCaptureSource>(engine);
    int64_t next = 1;
};

TEST_F(PrerollHandOver, ABlockInTheRingBeforeThePressIsNotRecordedAgain) {
    deliverRamp(100);
    gated->holdNextBlock();
    std::thread delivery([this] { deliverRamp(1); });
    ASSERT_TRUE(gated->waitUntilHeld());
    pipeline->press();  // the held block is already in the ring: it is pre-roll
    gated->letGo();
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
