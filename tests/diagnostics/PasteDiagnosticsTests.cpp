#include <gtest/gtest.h>

#include "diagnostics/PasteDiagnostics.h"
#include "foundation/Log.h"
#include "support/CapturingLogSink.h"
#include "support/CsvRow.h"

namespace velmarune {
namespace {

using namespace std::chrono_literals;

using testing::CsvRow;

class PasteDiagnosticsTest : public ::testing::Test {
  protected:
    PasteDiagnosticsTest()
        : diagnostics(PasteDiagnostics::Dependencies{
              [this] { return enabled; },
              [this](const std::string& row) { rows.push_back(row); },
              [this] { return now; },
              [this] { return front; },
              "0.1.0(7)",
              [this] {
                  return WallTime(
                      std::chrono::duration_cast<WallTime::duration>(now.time_since_epoch()));
              },
          }) {}

    CsvRow lastRow() const { return CsvRow(PasteDiagnostics::csvHeader(), rows.back()); }

    // 2026-01-01 00:00:00 UTC; whole nanoseconds, so the rounding cases are exact.
    TimePoint now{std::chrono::seconds{1767225600}};
    bool enabled = true;
    std::optional<std::string> front = "org.gnome.TextEditor:412";
    std::vector<std::string> rows;
    PasteDiagnostics diagnostics;
};

TEST_F(PasteDiagnosticsTest, PressWithoutPasteLeavesPasteColumnsEmpty) {
    const auto id = diagnostics.begin();
    ASSERT_EQ(id, 1);
    now += 40ms;
    diagnostics.markKeyUp(id, "org.gnome.TextEditor:412");
    diagnostics.setOutcome(id, "tap");

    ASSERT_EQ(rows.size(), 1u);
    const CsvRow row = lastRow();
    EXPECT_EQ(row["key_up_ms"], "40");
    EXPECT_EQ(row["outcome"], "tap");
    EXPECT_EQ(row["paste_attempted"], "no");
    EXPECT_EQ(row["reads"], "0");
    EXPECT_EQ(row["front_down"], "org.gnome.TextEditor:412");
    for (const char* empty : {"pb_write_ms", "cmdv_ms", "restore_ms", "transcribed_ms", "device",
                              "rms", "since_wake_s", "cancel_reason", "last_segment"}) {
        EXPECT_EQ(row[empty], "") << empty;
    }

    // The record is gone: later setters and outcomes for it write nothing.
    diagnostics.setLength(id, 5);
    diagnostics.setOutcome(id, "pasted");
    EXPECT_EQ(rows.size(), 1u);
}

TEST_F(PasteDiagnosticsTest, FilledRowFollowsTheNumberFormats) {
    now += 1h + 600ms;
    diagnostics.noteWake(now - 12340ms);
    diagnostics.noteActivation(now - 60ms);
    diagnostics.noteUnlock(now - 99960ms);
    diagnostics.recordUpdaterEvent("check finished");
    // Key-down 0.55 s into 01:00:06: the date keeps whole seconds.
    now += 5950ms;

    const auto id = diagnostics.begin();
    now += 1500us;  // 1.5 ms: halves round away from zero
    diagnostics.markKeyUp(id, "firefox:77");
    diagnostics.setAudio(id, PressAudio{"USB Mic", 48000.4, 2, "float32", 87, 1, 0, true, 1234,
                                        0.123456f, 0.99995f, "pass", "standard"});
    diagnostics.setQueuedAhead(id, 2);
    now += 1247900us;  // 1249.4 ms
    diagnostics.setQueueWaitMs(id, 310);
    diagnostics.markTranscribed(id);
    diagnostics.setRecognition(
        id, "he", 0.876f, "he->hebrew",
        DecodeFigures{812, 3, 1.3456, std::string("pass"), 0, std::string("shalom")},
        TrimFigures{0.0001234f, 0.0031f, 450, 120, std::nullopt}, 3, 95, std::nullopt);
    diagnostics.setLength(id, 42);
    diagnostics.setPasteWait(id, 0, 17);
    diagnostics.setPasting(id);
    diagnostics.recordSnapshot(id, false, "public.tiff:31457280 incomplete");
    diagnostics.recordPasteboardWrite(id, 100, 101);
    now += 30ms;
    diagnostics.recordKeystroke(id, 0x40000 | 0x100000 | 0x800000, 0, std::nullopt);
    now += 200ms;
    diagnostics.recordRead(id, 1);
    diagnostics.markHudShown(id);
    now += 700ms;
    diagnostics.recordRead(id, 2);
    now += 1s;
    diagnostics.recordPasteEnd(id, "restored", "pasted");

    // Every column, in the header's order.
    EXPECT_EQ(rows, std::vector<std::string>{
                        "0.1.0(7),1,2026-01-01 01:00:06 +0000,2,1249,1249,1279,,3179,1479,"
                        "org.gnome.TextEditor:412,org.gnome.TextEditor:412,"
                        "org.gnome.TextEditor:412,6.0,18.3,yes,ctrl+cmd+fn,none,100,101,,,"
                        "restored,pasted,,check finished 5s ago,42,USB Mic,48000,2,float32,87,1,0,"
                        "yes,1234,0.1235,0.9999,pass,he,0.88,he->hebrew,812,3,1.35,pass,0,1479,2,"
                        "partial,public.tiff:31457280 incomplete,105.9,,0.00012,0.00310,450,"
                        "firefox:77,2,310,0,17,3,95,,120,standard,,shalom"});
}

TEST_F(PasteDiagnosticsTest, TextFieldsCannotBreakTheRow) {
    front = "Mail, Calendar:9";
    const auto id = diagnostics.begin();
    PressAudio audio;
    audio.device = "Blue Yeti, USB";
    audio.gate = "pass";
    audio.micMode = "\"standard";
    diagnostics.setAudio(id, audio);
    DecodeFigures decode;
    decode.lastSegment = "one, two\nthree";
    decode.loop = "caf\xe9 \xd7\xa9";  // Latin-1 é, then a Hebrew letter
    diagnostics.setRecognition(id, "en", 0.5f, "en", decode, std::nullopt, std::nullopt,
                               std::nullopt, std::nullopt);
    diagnostics.setOutcome(id, "not pasted: keys held, then app changed");

    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].find('\n'), std::string::npos);
    const CsvRow row = lastRow();
    EXPECT_EQ(row.columns, 68u);
    EXPECT_EQ(row["front_down"], "Mail; Calendar:9");
    EXPECT_EQ(row["device"], "Blue Yeti; USB");
    EXPECT_EQ(row["last_segment"], "one; two three");
    // A leading quote would make a CSV reader swallow the rest of the file;
    // the file is UTF-8.
    EXPECT_EQ(row["mic_mode"], "'standard");
    EXPECT_EQ(row["loop"], "caf\xef\xbf\xbd \xd7\xa9");
    EXPECT_EQ(row["outcome"], "not pasted: keys held; then app changed");
}

TEST_F(PasteDiagnosticsTest, NinthOpenPressWritesTheOldestAsAbandoned) {
    std::vector<std::optional<int64_t>> ids;
    for (int i = 0; i < 8; ++i) {
        ids.push_back(diagnostics.begin());
    }
    EXPECT_TRUE(rows.empty());
    // Press 3 ends normally, so seven stay open and the next begin keeps all.
    diagnostics.setOutcome(ids[2], "silent input");
    ids.push_back(diagnostics.begin());
    ASSERT_EQ(rows.size(), 1u);

    ids.push_back(diagnostics.begin());
    ASSERT_EQ(ids.back(), 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(lastRow()["press"], "1");
    EXPECT_EQ(lastRow()["outcome"], "abandoned");

    ids.push_back(diagnostics.begin());
    EXPECT_EQ(lastRow()["press"], "2");
    EXPECT_EQ(lastRow()["outcome"], "abandoned");

    // An abandoned record cannot be ended a second time.
    diagnostics.setOutcome(ids[0], "pasted");
    EXPECT_EQ(rows.size(), 3u);
}

TEST_F(PasteDiagnosticsTest, OffKeepsAndWritesNothing) {
    auto log = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(log);
    enabled = false;

    const auto id = diagnostics.begin();
    EXPECT_EQ(id, std::nullopt);
    diagnostics.markKeyUp(1, std::nullopt);
    diagnostics.setPasting(1);
    diagnostics.recordPasteEnd(1, "restored", "pasted");
    diagnostics.setOutcome(1, "tap");
    diagnostics.setPendingCancelReason("quit");
    diagnostics.cancel({1});
    diagnostics.recordWindowPaste(12);
    EXPECT_EQ(diagnostics.currentPressID(), std::nullopt);
    EXPECT_TRUE(rows.empty());
    EXPECT_TRUE(log->messages("PasteDiag").empty());

    // Switched on, numbering starts at 1: nothing was kept while off.
    enabled = true;
    EXPECT_EQ(diagnostics.begin(), 1);
    diagnostics.cancel({1});
    EXPECT_EQ(lastRow()["cancel_reason"], "unspecified");
}

TEST_F(PasteDiagnosticsTest, CancelUsesThePendingReasonOnce) {
    auto log = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(log);

    const auto first = diagnostics.begin();
    const auto second = diagnostics.begin();
    const auto third = diagnostics.begin();
    diagnostics.setOutcome(first, "tap");
    diagnostics.setPendingCancelReason("3 empty transcripts");
    diagnostics.cancel({*first, *second, 99});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(lastRow()["press"], "2");
    EXPECT_EQ(lastRow()["outcome"], "cancelled");
    EXPECT_EQ(lastRow()["cancel_reason"], "3 empty transcripts");

    diagnostics.cancel({*third});
    EXPECT_EQ(lastRow()["cancel_reason"], "unspecified");

    // Every written row is also logged, whole.
    EXPECT_EQ(log->count("PasteDiag " + rows[0]), 1u);
}

// The paster asks which press a paste starting now belongs to, and keeps
// that id to the paste's end, even when the next paste supersedes it.
TEST_F(PasteDiagnosticsTest, APasteBelongsToThePastingPressElseTheLatest) {
    const auto older = diagnostics.begin();
    const auto newer = diagnostics.begin();
    EXPECT_EQ(diagnostics.currentPressID(), newer);
    diagnostics.setPasting(older);
    EXPECT_EQ(diagnostics.currentPressID(), older);
    diagnostics.recordKeystroke(older, 0x60000, 0x20000, "kate:1");
    diagnostics.recordPasteEnd(older, "restored", "pasted");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(lastRow()["press"], "1");
    EXPECT_EQ(lastRow()["flags_combined"], "ctrl+shift");
    EXPECT_EQ(lastRow()["flags_hid"], "shift");
    EXPECT_EQ(lastRow()["front_cmdv"], "kate:1");
    // Its end cleared the pasting press: the latest again, even once ended.
    EXPECT_EQ(diagnostics.currentPressID(), newer);
    diagnostics.recordPasteEnd(newer, std::nullopt, "no read");
    EXPECT_EQ(lastRow()["restore"], "");
    EXPECT_EQ(diagnostics.currentPressID(), newer);

    const auto superseded = diagnostics.begin();
    diagnostics.setPasting(diagnostics.begin());
    diagnostics.recordPasteEnd(superseded, "superseded", "no read before next paste");
    EXPECT_EQ(lastRow()["press"], "3");
    EXPECT_EQ(diagnostics.currentPressID(), 4);
}

TEST_F(PasteDiagnosticsTest, WindowPasteWritesARowOfItsOwn) {
    const auto open = diagnostics.begin();
    diagnostics.recordWindowPaste(31);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(lastRow()["press"], "2");
    EXPECT_EQ(lastRow()["outcome"], "window paste");
    EXPECT_EQ(lastRow()["length"], "31");
    // The open press is still the one a paste would address.
    EXPECT_EQ(diagnostics.currentPressID(), open);
}

}  // namespace
}  // namespace velmarune
