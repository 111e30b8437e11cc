#include <gtest/gtest.h>

#include "delivery/ClipboardPaster.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/fake/FakeKeyboard.h"
#include "platform/fake/FakePasteboard.h"

namespace velmarune {
namespace {

// Counts what a paste's caller is told; `holdKeystroke` keeps the keystroke back.
struct CountingObserver : PasteObserver {
    void keystrokeDue(std::function<void()> post) override {
        if (holdKeystroke) {
            heldKeystroke = std::move(post);
        } else {
            post();
        }
    }
    void keystrokePosted() override { ++afterPastes; }
    void firstRead() override { ++firstReads; }
    void noRead() override { ++noReads; }
    int noReads = 0, firstReads = 0, afterPastes = 0;
    bool holdKeystroke = false;
    std::function<void()> heldKeystroke;
};

struct PasterRig {
    ManualMainQueue clock;
    ManualExecutor snapshotQueue;
    FakePasteboard pasteboard;
    FakePasteKeystroke keystroke;
    std::vector<std::string> recorded;
    std::optional<int64_t> pressID = 1;  // the recorder's current press; absent: off
    std::shared_ptr<ClipboardPaster> paster;
    std::shared_ptr<CountingObserver> observer = std::make_shared<CountingObserver>();
    int& noReads = observer->noReads;
    int& firstReads = observer->firstReads;
    int& afterPastes = observer->afterPastes;

    PasterRig() {
        // Each step as "#press what".
        auto note = [this](int64_t id, const std::string& what) {
            recorded.push_back("#" + std::to_string(id) + " " + what);
        };
        PasteRecorder recorder;
        recorder.currentPressID = [this] { return pressID; };
        recorder.snapshot = [note](int64_t id, bool complete, const std::string& skipped) {
            note(id, (complete ? "snapshot complete" : "snapshot partial") +
                         (skipped.empty() ? "" : " [" + skipped + "]"));
        };
        recorder.pasteboardWrite = [note](int64_t id, int64_t before, int64_t after) {
            note(id, "write " + std::to_string(before) + "->" + std::to_string(after));
        };
        recorder.keystroke = [note](int64_t id) { note(id, "keystroke"); };
        recorder.read = [note](int64_t id, int64_t n) { note(id, "read " + std::to_string(n)); };
        recorder.pasteEnd = [note](int64_t id, const std::string& result, const std::string& end) {
            note(id, "end " + result + " / " + end);
        };
        recorder.pasteWithoutPress = [this](int64_t characters) {
            recorded.push_back("row of its own, " + std::to_string(characters) + " characters");
        };
        // Unit tests never block: an unfinished snapshot is claimed at once.
        paster = std::make_shared<ClipboardPaster>(ClipboardPaster::Dependencies{
            pasteboard, clock, snapshotQueue, [this] { keystroke.post(PasteChord::controlV); },
            recorder, 0.0});
    }

    void insert(const std::string& text, bool diagnose = true) {
        paster->insert(text, diagnose, observer);
    }
    // The user's copy, its snapshot taken at key-down, then `text` pasted over it.
    using Items = std::vector<std::vector<std::pair<std::string, PasteboardBytes>>>;
    void pasteOver(Items copy, const std::string& text = "hello", bool diagnose = true) {
        if (!copy.empty()) {
            pasteboard.userCopy(std::move(copy));
        }
        paster->prepare();
        snapshotQueue.runAll();
        insert(text, diagnose);
    }
    // An application reads the promised string; its notice reaches the main thread.
    std::optional<PasteboardBytes> read() {
        auto data = pasteboard.readAsApplication("UTF8_STRING");
        clock.runPending();
        return data;
    }
    std::optional<PasteboardBytes> current(const std::string& type = "UTF8_STRING") {
        return pasteboard.peek(type);
    }
};

TEST(ClipboardPaster, ReadsMoveTheRestoreAndTheFormerContentsComeBack) {
    PasterRig rig;
    rig.pasteOver({{{"text/html", "<b>before</b>"}, {"UTF8_STRING", "before"}}});

    EXPECT_EQ(rig.keystroke.posts, 0);
    rig.clock.advance(0.029);
    EXPECT_EQ(rig.keystroke.posts, 0);
    rig.clock.advance(0.001);  // keystroke at 0.03 s
    EXPECT_EQ(rig.keystroke.posts, 1);
    EXPECT_EQ(rig.afterPastes, 1);

    rig.clock.advance(0.2);
    EXPECT_EQ(rig.read(), "hello");
    rig.clock.advance(0.7);
    EXPECT_EQ(rig.read(), "hello");
    EXPECT_EQ(rig.firstReads, 1);

    rig.clock.advance(0.999);  // 1.0 s after the second read is the restore
    EXPECT_EQ(rig.current(), "(promised)");
    rig.clock.advance(0.001);
    EXPECT_EQ(rig.current(), "before");
    EXPECT_EQ(rig.current("text/html"), "<b>before</b>");
    // Back in the item's own order, marked once.
    EXPECT_EQ(rig.pasteboard.types(), (std::vector<std::vector<std::string>>{
                                          {"text/html", "UTF8_STRING", kTransientPasteboardType}}));
    rig.clock.advance(10);
    EXPECT_EQ(rig.noReads, 0);
    EXPECT_EQ(rig.recorded,
              (std::vector<std::string>{"#1 snapshot complete", "#1 write 1->2", "#1 keystroke",
                                        "#1 read 1", "#1 read 2", "#1 end restored / pasted"}));
}

TEST(ClipboardPaster, TheCallerMayHoldTheKeystrokeBack) {
    PasterRig rig;
    rig.pasteboard.userCopy({{{"UTF8_STRING", "before"}}});
    rig.observer->holdKeystroke = true;
    rig.insert("hello");
    rig.clock.advance(1.0);
    EXPECT_EQ(rig.keystroke.posts, 0);
    EXPECT_EQ(rig.current(), "(promised)");  // nothing restored under a pending keystroke
    std::exchange(rig.observer->heldKeystroke, nullptr)();
    EXPECT_EQ(rig.keystroke.posts, 1);
    EXPECT_EQ(rig.afterPastes, 1);
    EXPECT_EQ(rig.read(), "hello");
    EXPECT_EQ(rig.firstReads, 1);
}

TEST(ClipboardPaster, NothingReadGivesTheNoReadNoticeAndRestoresAfterFiveSeconds) {
    PasterRig rig;
    rig.pasteboard.userCopy({{{"UTF8_STRING", "before"}}});
    rig.insert("hello");
    rig.snapshotQueue.runAll();  // too late: the snapshot was claimed unfinished
    rig.clock.advance(0.03);
    rig.clock.advance(1.499);
    EXPECT_EQ(rig.noReads, 0);
    rig.clock.advance(0.001);
    EXPECT_EQ(rig.noReads, 1);
    rig.clock.advance(3.499);
    EXPECT_EQ(rig.current(), "(promised)");
    rig.clock.advance(0.001);
    // The unfinished snapshot held nothing: the pasteboard is cleared.
    EXPECT_TRUE(rig.pasteboard.types().empty());
    EXPECT_EQ(rig.recorded, (std::vector<std::string>{"#1 snapshot partial [incomplete]",
                                                      "#1 write 1->2", "#1 keystroke",
                                                      "#1 end restored after no read / no read"}));
}

TEST(ClipboardPaster, ASecondPasteBeforeTheRestoreSupersedesTheFirst) {
    PasterRig rig;
    rig.pasteOver({{{"UTF8_STRING", "before"}}}, "one");
    rig.clock.advance(0.5);
    rig.pressID = 2;
    rig.insert("two");
    EXPECT_EQ(rig.snapshotQueue.pendingCount(), 0u);  // no second snapshot
    rig.clock.advance(0.03);
    EXPECT_EQ(rig.keystroke.posts, 2);
    EXPECT_EQ(rig.read(), "two");
    rig.clock.advance(0.999);
    EXPECT_EQ(rig.current(), "(promised)");
    rig.clock.advance(0.001);
    EXPECT_EQ(rig.current(), "before");
    rig.clock.advance(10);
    EXPECT_EQ(rig.noReads, 0);  // the first paste's check was void
    // Each paste's steps go to its own press, the superseded one's end included.
    EXPECT_EQ(rig.recorded,
              (std::vector<std::string>{"#1 snapshot complete", "#1 write 1->2", "#1 keystroke",
                                        "#1 end superseded / no read before next paste",
                                        "#2 snapshot complete", "#2 write 2->3", "#2 keystroke",
                                        "#2 read 1", "#2 end restored / pasted"}));
}

TEST(ClipboardPaster, AHistoryToolReadingBeforeTheKeystrokeIsNotTheTargetsRead) {
    PasterRig rig;
    rig.pasteOver({{{"UTF8_STRING", "before"}}});
    rig.clock.advance(0.01);
    EXPECT_EQ(rig.read(), "hello");
    rig.clock.advance(0.02);
    EXPECT_EQ(rig.keystroke.posts, 1);
    EXPECT_EQ(rig.firstReads, 0);
    EXPECT_EQ(rig.paster->readCount(), 0u);
    rig.clock.advance(1.5);
    EXPECT_EQ(rig.noReads, 1);  // the target never read
}

TEST(ClipboardPaster, ANewerCopyByTheUserIsKept) {
    PasterRig rig;
    rig.pasteOver({{{"UTF8_STRING", "before"}}});
    rig.clock.advance(2.03);
    rig.pasteboard.userCopy({{{"UTF8_STRING", "newer"}}});
    rig.clock.advance(10);
    EXPECT_EQ(rig.current(), "newer");
    EXPECT_EQ(rig.recorded.back(), "#1 end kept newer copy / no read");
    EXPECT_FALSE(rig.paster->holdsSnapshot());
}

TEST(ClipboardPaster, PreferredTypesCountTowardTheBudgetButAreNeverSkipped) {
    PasterRig rig;
    const PasteboardBytes text(15 * 1024 * 1024, 'a'), small(6 * 1024 * 1024, 'b'),
        html(2 * 1024 * 1024, 'c'), tiny(1024, 'd');
    rig.pasteOver({{{"application/x-a", small}, {"UTF8_STRING", text}},
                   {{"application/x-b", tiny}, {"text/html", html}}});
    rig.clock.advance(10);
    EXPECT_EQ(rig.recorded.front(), "#1 snapshot partial [application/x-a:6291456]");
    EXPECT_EQ(rig.pasteboard.types(),
              (std::vector<std::vector<std::string>>{
                  {"UTF8_STRING", kTransientPasteboardType},
                  {"application/x-b", "text/html", kTransientPasteboardType}}));
}

TEST(ClipboardPaster, EveryRestoredItemCarriesTheMarkerOnceAndNothingStaysNothing) {
    PasterRig rig;
    rig.pasteOver(
        {{{"UTF8_STRING", "a"}, {kTransientPasteboardType, ""}}, {{"UTF8_STRING", "b"}}, {}},
        "שלום", false);
    rig.clock.advance(10);
    EXPECT_EQ(rig.pasteboard.types(),
              (std::vector<std::vector<std::string>>{{"UTF8_STRING", kTransientPasteboardType},
                                                     {"UTF8_STRING", kTransientPasteboardType}}));
    // A paste without a press (Paste Last Dictation, the didn't-paste prompt)
    // is recorded on a row of its own, its length in characters.
    EXPECT_EQ(rig.recorded, std::vector<std::string>{"row of its own, 4 characters"});

    PasterRig empty;
    empty.pasteOver({});
    empty.clock.advance(10);
    EXPECT_TRUE(empty.pasteboard.types().empty());
}

TEST(ClipboardPaster, AFreshPendingSnapshotIsReusedAndAStaleOneReplaced) {
    PasterRig rig;
    rig.pasteboard.userCopy({{{"UTF8_STRING", "first"}}});
    rig.paster->prepare();
    rig.paster->prepare();
    EXPECT_EQ(rig.snapshotQueue.pendingCount(), 1u);
    rig.pasteboard.userCopy({{{"UTF8_STRING", "second"}}});
    rig.paster->prepare();
    EXPECT_EQ(rig.snapshotQueue.pendingCount(), 2u);
    rig.snapshotQueue.runAll();
    rig.insert("hello");
    EXPECT_EQ(rig.snapshotQueue.pendingCount(), 0u);
    rig.clock.advance(10);
    EXPECT_EQ(rig.current(), "second");
    // While a snapshot is held, prepare takes none.
    rig.insert("again");
    rig.paster->prepare();
    EXPECT_FALSE(rig.paster->hasPendingSnapshot());
}

// A copy from the heads-up display abandons the paste, before its keystroke
// (which still goes: the text is promised) or after it, and restores nothing.
TEST(ClipboardPaster, CopyAbandonsThePasteAndLeavesAPlainCopy) {
    for (const double copyAt : {0.01, 0.5}) {
        SCOPED_TRACE(copyAt);
        PasterRig rig;
        rig.pasteOver({{{"UTF8_STRING", "before"}}});
        rig.clock.advance(copyAt);
        rig.paster->copy("hello");
        rig.clock.advance(20);
        EXPECT_EQ(rig.keystroke.posts, 1);
        EXPECT_EQ(rig.afterPastes, 1);
        EXPECT_EQ(rig.noReads, 0);
        EXPECT_EQ(rig.pasteboard.types(), (std::vector<std::vector<std::string>>{{"UTF8_STRING"}}));
        EXPECT_EQ(rig.current(), "hello");
        EXPECT_EQ(rig.recorded, (std::vector<std::string>{"#1 snapshot complete", "#1 write 1->2",
                                                          "#1 keystroke"}));
        EXPECT_EQ(rig.clock.pendingCount(), 0u);
    }
}

TEST(ClipboardPaster, NothingIsRecordedWhileRecordingIsOff) {
    PasterRig rig;
    rig.pressID.reset();
    rig.pasteboard.userCopy({{{"UTF8_STRING", "before"}}});
    rig.insert("hello");
    rig.clock.advance(0.03);
    rig.read();
    rig.clock.advance(10);
    EXPECT_TRUE(rig.recorded.empty());
    EXPECT_EQ(rig.firstReads, 1);
}

TEST(ClipboardPaster, AFailedKeystrokeEndsAsNoRead) {
    PasterRig rig;
    rig.keystroke.failing = true;
    rig.pasteOver({{{"UTF8_STRING", "before"}}});
    rig.clock.advance(5.03);
    EXPECT_EQ(rig.noReads, 1);
    EXPECT_EQ(rig.current(), "before");
}

TEST(ClipboardPaster, DelayedStepsDoNothingOnceThePasterIsGone) {
    PasterRig rig;
    rig.pasteboard.userCopy({{{"UTF8_STRING", "before"}}});
    rig.insert("hello");
    rig.paster.reset();
    rig.clock.advance(10);
    EXPECT_EQ(rig.keystroke.posts, 0);
    EXPECT_EQ(rig.current(), "(promised)");
    EXPECT_EQ(rig.noReads, 0);
}

TEST(ClipboardPaster, ASnapshotStuckOnASlowOwnerIsClaimedUnfinished) {
    // The real queue, blocked: the paste goes on once the (short) claim wait ends.
    ManualMainQueue clock;
    SerialQueue queue(kClipboardSnapshotQueueName);
    queue.start();
    FakePasteboard pasteboard;
    pasteboard.userCopy({{{"UTF8_STRING", "before"}}});
    std::mutex gate;
    gate.lock();
    queue.async([&] { std::lock_guard hold(gate); });
    std::vector<std::string> snapshots;
    PasteRecorder recorder;
    recorder.currentPressID = [] { return std::optional<int64_t>(1); };
    recorder.snapshot = [&](int64_t, bool complete, const std::string& skipped) {
        snapshots.push_back((complete ? "complete " : "partial ") + skipped);
    };
    auto paster = std::make_shared<ClipboardPaster>(
        ClipboardPaster::Dependencies{pasteboard, clock, queue, [] {}, recorder, 0.01});
    paster->prepare();
    paster->insert("hello", true, nullptr);
    gate.unlock();
    queue.stop();
    EXPECT_EQ(snapshots, std::vector<std::string>{"partial incomplete"});
    EXPECT_EQ(pasteboard.peek("UTF8_STRING"), "(promised)");
}

}  // namespace
}  // namespace velmarune
