#include <gtest/gtest.h>

#include "delivery/PasteLastDictation.h"
#include "delivery/RecentDictations.h"
#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "keys/ModifierCombo.h"
#include "platform/fake/FakeKeyboard.h"
#include "platform/fake/FakeSessionEvents.h"
#include "support/CapturingLogSink.h"
#include "support/DeliveryDoubles.h"

namespace velmarune {
namespace {

TEST(RecentDictations, KeepsFiveNonBlankTextsNewestFirstWithGrowingIDs) {
    ManualMainQueue clock;
    auto store = std::make_shared<RecentDictations>(clock);
    int changes = 0;
    store->onChange = [&] { ++changes; };
    EXPECT_EQ(store->add("   "), std::nullopt);
    EXPECT_EQ(store->add(" \n\t"), std::nullopt);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(store->add("  word "), 1);
    EXPECT_EQ(store->entries().front().text, "  word ");
    for (int i = 2; i <= 6; ++i) EXPECT_EQ(store->add("text " + std::to_string(i)), i);
    ASSERT_EQ(store->entries().size(), 5u);
    EXPECT_EQ(store->entries().front().id, 6);
    EXPECT_EQ(store->entries().back().id, 2);
    EXPECT_EQ(changes, 6);
    EXPECT_EQ(store->entry(1), std::nullopt);
}

// A step of the wall clock (NTP, a corrected date after resume) neither
// shortens nor stretches the ten minutes.
TEST(RecentDictations, EachEntryExpiresTenMinutesAfterItWasDictated) {
    for (double wallStep : {0.0, -3600.0, 3600.0}) {
        SCOPED_TRACE(wallStep);
        ManualMainQueue clock;
        auto store = std::make_shared<RecentDictations>(clock);
        store->add("early");
        clock.advance(300);
        clock.stepWallClock(wallStep);
        store->add("later");
        clock.advance(299.9);
        EXPECT_EQ(store->entries().size(), 2u);
        clock.advance(0.1);
        ASSERT_EQ(store->entries().size(), 1u);
        EXPECT_EQ(store->entries().front().text, "later");
        clock.advance(300);
        EXPECT_TRUE(store->entries().empty());
    }
}

TEST(RecentDictations, LockAndSleepClearTheListAndEndTheSessionUntilTheStoreIsGone) {
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    ManualMainQueue clock;
    FakeSessionEvents events;
    auto store = std::make_shared<RecentDictations>(clock);
    store->observe(events);
    std::vector<std::string> ended;
    store->onSessionEnded = [&](const std::string& reason) { ended.push_back(reason); };
    for (const auto event :
         {SessionEvent::screenUnlocked, SessionEvent::didWake, SessionEvent::screenLocked,
          SessionEvent::displaySlept, SessionEvent::willSleep}) {
        store->add("one");
        store->add("two");
        events.emit(event);
    }
    EXPECT_TRUE(store->entries().empty());
    EXPECT_EQ(ended,
              (std::vector<std::string>{"screen locked", "display slept", "system sleeping"}));
    EXPECT_EQ(sink->messages("RecentDictations"),
              (std::vector<std::string>{"cleared (screen locked): 5 entries",  // of six added
                                        "cleared (display slept): 2 entries",
                                        "cleared (system sleeping): 2 entries"}));
    EXPECT_EQ(events.observerCount(), 1u);
    store.reset();
    EXPECT_EQ(events.observerCount(), 0u);
    events.emit(SessionEvent::screenLocked);
}

TEST(RecentDictations, MenuTitles) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"one two three four five six seven eight nine ten", "one two three four five six…"},
        {"abcdefghijklmnopqrstuvwxyz abcdefghijklmn opqrstu",
         "abcdefghijklmnopqrstuvwxyz abcdefghijklm…"},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa bbbbbbbbbb",
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa…"},
        {"  hello \n\t world ", "hello world"},
        {"", ""},
        {"שלום עולם", "שלום עולם"},
    };
    for (const auto& [text, title] : cases) {
        EXPECT_EQ(RecentDictations::menuTitle(text), title) << text;
    }
    // Forty Hebrew letters are forty characters, not eighty bytes.
    std::string hebrew;
    for (int i = 0; i < 45; ++i) hebrew += "\u05e9";
    std::string expected;
    for (int i = 0; i < 40; ++i) expected += "\u05e9";
    EXPECT_EQ(RecentDictations::menuTitle(hebrew), expected + "…");
}

struct PasteLastRig {
    ManualMainQueue clock;
    std::shared_ptr<RecentDictations> store = std::make_shared<RecentDictations>(clock);
    std::vector<TimePoint> pastedAt;
    testing::RecordingDelivery delivery{[this] { pastedAt.push_back(clock.now()); }};
    testing::RecordingPrompts prompts;
    testing::RecordingDisplay display;
    FakeModifierState keys;
    int cancels = 0;
    std::shared_ptr<PasteLastDictation> command =
        std::make_shared<PasteLastDictation>(PasteLastDictation::Dependencies{
            store, delivery, prompts, display, keys, clock, [this] { ++cancels; }});

    const std::vector<testing::RecordingDelivery::Paste>& pasted() const {
        return delivery.repastes;
    }
    double secondsSince(TimePoint start, size_t paste = 0) const {
        return secondsBetween(start, pastedAt.at(paste));
    }
};

TEST(PasteLastDictation, WithAnEmptyListItOnlyShowsTheNotice) {
    PasteLastRig rig;
    rig.command->perform();
    rig.command->paste(std::nullopt);
    rig.store->add("gone");
    rig.command->paste(7);
    rig.clock.advance(5);
    EXPECT_EQ(rig.cancels, 1);
    EXPECT_TRUE(rig.pasted().empty());
    EXPECT_EQ(rig.display.notices,
              std::vector<std::string>(3, "Nothing to paste. Recent Dictations is empty."));
}

TEST(PasteLastDictation, WaitsForReleasedModifiersAtMostOneSecond) {
    struct Case {
        double releaseAfter;  // seconds; negative: keys already up
        double pastedAt;
    };
    for (const Case c : {Case{-1, 0.0}, Case{0.05, 0.06}, Case{0.5, 0.5}, Case{5, 1.0}}) {
        PasteLastRig rig;
        rig.store->add("older");
        rig.store->add("newest");
        if (c.releaseAfter >= 0) {
            rig.keys.flags = 0x160000;
            rig.clock.postAfter(c.releaseAfter - 0.001, [&] { rig.keys.flags = 0; });
        }
        const auto start = rig.clock.now();
        rig.command->perform();
        rig.clock.advance(3);
        ASSERT_EQ(rig.pasted().size(), 1u) << c.releaseAfter;
        EXPECT_EQ(rig.pasted()[0].text, "newest");
        EXPECT_NEAR(rig.secondsSince(start), c.pastedAt, 1e-6) << c.releaseAfter;
        rig.pasted()[0].observer->firstRead();
        EXPECT_EQ(rig.prompts.pastedEntries, std::vector<int64_t>{2});
    }
}

TEST(PasteLastDictation, TheMenuPastesAfterAShortDelayAndOnlyTheNewestClosesItsPrompt) {
    PasteLastRig rig;
    const auto first = *rig.store->add("first");
    rig.store->add("second");
    const auto start = rig.clock.now();
    rig.command->paste(first);
    rig.command->paste(std::nullopt);
    rig.clock.advance(0.149);
    EXPECT_TRUE(rig.pasted().empty());
    rig.clock.advance(0.001);
    ASSERT_EQ(rig.pasted().size(), 2u);
    EXPECT_EQ(rig.pasted()[0].text, "first");
    EXPECT_EQ(rig.pasted()[1].text, "second");
    EXPECT_NEAR(rig.secondsSince(start, 0), 0.15, 1e-6);
    // Only the newest entry's paste tells the prompt.
    EXPECT_EQ(rig.pasted()[0].observer, nullptr);
    rig.pasted()[1].observer->firstRead();
    EXPECT_EQ(rig.prompts.pastedEntries, std::vector<int64_t>{2});
    EXPECT_EQ(rig.cancels, 0);
}

}  // namespace
}  // namespace velmarune
