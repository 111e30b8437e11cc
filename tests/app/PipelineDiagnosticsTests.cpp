#include <gtest/gtest.h>

#include "PipelineFixture.h"
#include "diagnostics/PasteDiagnostics.h"
#include "support/CsvRow.h"

namespace velmarune::testing {
namespace {

class PipelineDiagnostics : public PipelineFixture {
  protected:
    void customise() override {
        diagnostics = std::make_shared<PasteDiagnostics>(PasteDiagnostics::Dependencies{
            [] { return true; }, [this](const std::string& row) { rows.push_back(row); },
            [this] { return queue.now(); }, [this] { return front.frontmost(); }, "0.1.0(1)",
            [this] { return queue.wallNow(); }});
        capture->setMicMode(MicMode::voiceIsolation);
        multilingual->detection = {"en", 0.97F};
        multilingual->results = {"Hello, world"};
        multilingual->latencyMs = 250;
        multilingual->onTranscribe = [this] { queue.advance(0.25); };  // decoding takes a while
    }

    std::string column(const std::string& row, const std::string& name) {
        return CsvRow(PasteDiagnostics::csvHeader(), row)[name];
    }

    std::vector<std::string> rows;
};

TEST_F(PipelineDiagnostics, AWholeDictationLeavesOneCompleteRow) {
    capture->setDeviceName("USB, Mic");
    capture->setStats(CaptureStats{10, 0, 0, 48000, 2, "float32"});
    capture->fillRing(std::vector<float>(8000, 0.0f));
    pipeline->press();
    capture->deliverTone(1.0, 0.1f);  // 100 buffers
    queue.advance(1.0);
    pipeline->release();
    finishDecoding();
    ASSERT_EQ(pastes().size(), 1u);
    EXPECT_EQ(pastes()[0].text, "Hello, world");
    completePaste(0);
    // The paster ends the record once the clipboard has been restored.
    diagnostics->recordPasteEnd(1, "restored", "pasted");

    ASSERT_EQ(rows.size(), 1u);
    const std::string& row = rows[0];
    EXPECT_EQ(column(row, "key_up_ms"), "1000");
    EXPECT_EQ(column(row, "transcribed_ms"), "1250");
    EXPECT_EQ(column(row, "hud_ms"), "1250");  // shown as the keystroke went out
    EXPECT_EQ(column(row, "device"), "USB; Mic");
    EXPECT_EQ(column(row, "src_rate"), "48000");
    EXPECT_EQ(column(row, "buffers"), "100");
    EXPECT_EQ(column(row, "new_audio_ms"), "1000");
    EXPECT_EQ(column(row, "gate"), "pass");
    EXPECT_EQ(column(row, "mic_mode"), "Voice Isolation");
    EXPECT_EQ(column(row, "language"), "en");
    EXPECT_EQ(column(row, "confidence"), "0.97");
    EXPECT_EQ(column(row, "route"), "multilingual");
    EXPECT_EQ(column(row, "decode_ms"), "250");
    EXPECT_EQ(column(row, "length"), "12");
    EXPECT_EQ(column(row, "front_release"), "org.example.editor:42");
    EXPECT_EQ(column(row, "queued_ahead"), "0");
    // The router's figures (a steady tone has no quiet tail to trim).
    EXPECT_EQ(column(row, "trimmed_ms"), "0");
    EXPECT_EQ(column(row, "quiet_tail_ms"), "0");
}

TEST_F(PipelineDiagnostics, RejectionsAndStopEverythingEndTheirRecords) {
    dictate(0.1);  // tap
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(column(rows[0], "outcome"), "tap");

    dictate();
    pipeline->press();
    diagnostics->setPendingCancelReason("quit");
    pipeline->stopEverything();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(column(rows[1], "outcome"), "cancelled");
    EXPECT_EQ(column(rows[1], "cancel_reason"), "quit");
    EXPECT_EQ(column(rows[2], "outcome"), "cancelled");
}

}  // namespace
}  // namespace velmarune::testing
