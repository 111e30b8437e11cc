#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/HotkeyManager.h"
#include "hotkeys/ModifierMatcher.h"
#include "platform/fake/FakeKeyboardMonitor.h"

namespace velmarune {
namespace {

using Event = ModifierMatcher::Event;
using State = ModifierMatcher::State;

constexpr uint64_t kCtrl = kModifierControl;
constexpr uint64_t kShift = kModifierShift;
constexpr uint64_t kCmd = kModifierCommand;
constexpr uint64_t kOpt = kModifierOption;
constexpr uint64_t kCapsLock = 0x10000;

// A matcher for Ctrl+Shift with a 40 ms dwell, its events in order.
struct MatcherRig {
    ManualMainQueue queue;
    std::vector<Event> events;
    std::shared_ptr<ModifierMatcher> matcher;

    explicit MatcherRig(int64_t dwellMs = 40) {
        matcher = ModifierMatcher::create(queue, HotkeyBindings{}, dwellMs,
                                          [this](const Event& e) { events.push_back(e); });
    }
    void flags(uint64_t f) { matcher->flagsChanged(f); }
    void wait(double ms) { queue.advance(ms / 1000.0); }
    void activate() {
        flags(kCtrl);
        flags(kCtrl | kShift);
        wait(50);
        ASSERT_EQ(matcher->state(), State::dictating);
        events.clear();
    }
};

TEST(ModifierMatcher, ChordHeldThroughTheDwellActivatesOnce) {
    MatcherRig rig;
    rig.flags(kCtrl);
    rig.flags(kCtrl | kShift);
    EXPECT_EQ(rig.matcher->state(), State::armed);
    rig.wait(39);
    EXPECT_TRUE(rig.events.empty());
    rig.wait(11);
    EXPECT_EQ(rig.events, std::vector<Event>{Event::activated()});
    rig.wait(500);
    EXPECT_EQ(rig.events.size(), 1u);
}

TEST(ModifierMatcher, KeyWithinTheDwellPassesThroughUntilEveryModifierIsUp) {
    CapturingLogSink* sink = nullptr;
    auto shared = std::make_shared<CapturingLogSink>();
    sink = shared.get();
    ScopedLogSink scoped(shared);

    MatcherRig rig;
    rig.flags(kCtrl | kShift);
    rig.matcher->keyDown(17);  // T
    EXPECT_EQ(rig.matcher->state(), State::passthrough);
    EXPECT_TRUE(sink->contains("armed → passthrough (keyDown 17)"));
    rig.wait(100);
    EXPECT_TRUE(rig.events.empty());

    // Letting go of one key and pressing the exact chord again does not arm.
    rig.flags(kCtrl);
    rig.flags(kCtrl | kShift);
    rig.wait(100);
    EXPECT_EQ(rig.matcher->state(), State::passthrough);
    rig.flags(0);
    EXPECT_EQ(rig.matcher->state(), State::idle);
    rig.flags(kCtrl | kShift);
    rig.wait(50);
    EXPECT_EQ(rig.events, std::vector<Event>{Event::activated()});
}

TEST(ModifierMatcher, ReleasesWhileDictating) {
    struct Case {
        const char* name;
        uint64_t newFlags;
        Event expected;
    };
    const Case cases[] = {
        {"added Command", kCtrl | kShift | kCmd,
         Event::releasedByAddedModifier(kCtrl | kShift | kCmd)},
        {"added Option, Caps Lock on", kCtrl | kShift | kOpt | kCapsLock,
         Event::releasedByAddedModifier(kCtrl | kShift | kOpt)},
        {"Shift let go, Control held", kCtrl, Event::released()},
        {"Shift swapped for Command", kCtrl | kCmd, Event::released()},
        {"everything let go", 0, Event::released()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MatcherRig rig;
        rig.activate();
        rig.flags(c.newFlags);
        EXPECT_EQ(rig.events, std::vector<Event>{c.expected});
        EXPECT_EQ(rig.matcher->state(), State::idle);
    }
}

TEST(ModifierMatcher, LockAndDeviceBitsNeverCount) {
    MatcherRig rig;
    // Caps Lock on and left/right device bits set: still the exact chord.
    rig.flags(kCtrl | kShift | kCapsLock | 0x1 | 0x2);
    rig.wait(50);
    ASSERT_EQ(rig.events, std::vector<Event>{Event::activated()});
    rig.events.clear();
    rig.flags(kCtrl | kShift);  // Caps Lock toggled off while dictating
    rig.flags(kCtrl | kShift | kCapsLock);
    EXPECT_TRUE(rig.events.empty());
    EXPECT_EQ(rig.matcher->state(), State::dictating);
}

TEST(ModifierMatcher, ASupersetOrAnEarlyReleaseNeverActivates) {
    MatcherRig rig;
    rig.flags(kCtrl | kOpt | kShift);
    rig.wait(100);
    EXPECT_EQ(rig.matcher->state(), State::idle);

    // Armed, then one key let go before the dwell ends: the old timer must
    // not activate a later press early.
    rig.flags(kCtrl | kShift);
    rig.wait(30);
    rig.flags(kCtrl);
    EXPECT_EQ(rig.matcher->state(), State::idle);
    rig.flags(kCtrl | kShift);
    rig.wait(15);  // the first timer's time has passed, the new one's not
    EXPECT_TRUE(rig.events.empty());
    rig.wait(25);
    EXPECT_EQ(rig.events, std::vector<Event>{Event::activated()});
}

TEST(ModifierMatcher, KeysWhileDictatingAreIncidental) {
    MatcherRig rig;
    rig.activate();
    rig.matcher->keyDown(4);
    EXPECT_EQ(rig.events, std::vector<Event>{Event::incidentalKey(4)});
    EXPECT_EQ(rig.matcher->state(), State::dictating);
}

TEST(ModifierMatcher, ZeroDwellActivatesOnTheNextTurn) {
    MatcherRig rig(0);
    rig.flags(kCtrl | kShift);
    EXPECT_TRUE(rig.events.empty());
    rig.queue.runPending();
    EXPECT_EQ(rig.events, std::vector<Event>{Event::activated()});
}

TEST(ModifierMatcher, NewBindingAppliesInPlace) {
    MatcherRig rig;
    rig.flags(kCtrl | kShift);
    rig.matcher->setBindings(HotkeyBindings{ModifierCombo{kCtrl | kOpt}});
    rig.wait(50);  // the running timer is kept
    EXPECT_EQ(rig.events, std::vector<Event>{Event::activated()});
    rig.flags(0);
    rig.flags(kCtrl | kOpt);
    rig.wait(50);
    EXPECT_EQ(rig.events.size(), 3u);
}

// The manager over a scripted keyboard.
struct ManagerRig {
    ManualMainQueue queue;
    MemoryUserDefaults defaults;
    FakeKeyboardMonitor keyboard;
    std::shared_ptr<CapturingLogSink> sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped{sink};
    std::shared_ptr<HotkeyManager> manager =
        std::make_shared<HotkeyManager>(defaults, queue, keyboard);
    std::vector<Event> delivered;

    ManagerRig() {
        manager->onPTTEvent = [this](const Event& e) { delivered.push_back(e); };
    }
};

TEST(HotkeyManager, DeliversEventsOneTurnLaterAndLogsThem) {
    ManagerRig rig;
    rig.defaults.setInteger("pttDwellMs", 20);
    ASSERT_TRUE(rig.manager->start());
    EXPECT_TRUE(rig.sink->contains("keyboard listener started (listen-only)"));

    rig.keyboard.press(kCtrl | kShift);
    rig.queue.advance(0.020);
    EXPECT_EQ(rig.delivered, std::vector<Event>{Event::activated()});
    EXPECT_TRUE(rig.sink->contains("push-to-talk ACTIVE"));

    rig.keyboard.sendKeyDown(38);
    rig.keyboard.press(kCmd);
    rig.queue.runPending();
    EXPECT_EQ(rig.delivered, (std::vector<Event>{Event::activated(), Event::releasedByAddedModifier(
                                                                         kCtrl | kShift | kCmd)}));
    EXPECT_TRUE(rig.sink->contains("incidental keyDown during PTT: 38"));
    EXPECT_TRUE(rig.sink->contains("push-to-talk RELEASED"));
}

TEST(HotkeyManager, ReadsDwellAndBindingAtStartAndReloadsTheBindingInPlace) {
    ManagerRig rig;
    rig.defaults.setDouble("pttDwellMs", 12.5);  // not an integer: 40
    ASSERT_TRUE(rig.manager->start());
    EXPECT_EQ(rig.manager->matcher()->dwellMs(), 40);
    rig.defaults.setString("pttDwellMs", "fast");
    rig.defaults.setInteger("pttBinding", kCtrl | kOpt);
    ASSERT_TRUE(rig.manager->start());
    EXPECT_EQ(rig.manager->matcher()->dwellMs(), 40);
    EXPECT_EQ(rig.keyboard.startCount(), 2);

    rig.keyboard.press(kCtrl | kOpt);
    rig.queue.advance(0.010);
    rig.defaults.setInteger("pttBinding", kShift);
    rig.defaults.setInteger("pttDwellMs", 5);
    rig.manager->reloadBindings();
    EXPECT_EQ(rig.manager->matcher()->state(), State::armed);
    EXPECT_EQ(rig.manager->matcher()->dwellMs(), 40);
    rig.queue.advance(0.040);
    EXPECT_EQ(rig.delivered, std::vector<Event>{Event::activated()});
}

TEST(HotkeyManager, FailedStartReportsAndLogs) {
    ManagerRig rig;
    rig.keyboard.setAvailable(false);
    EXPECT_FALSE(rig.manager->start());
    EXPECT_TRUE(rig.sink->contains(
        "keyboard listener failed to start — no XInput2 keyboard access on this display"));
    rig.keyboard.setAvailable(true);
    EXPECT_TRUE(rig.manager->start());
}

TEST(HotkeyManager, NothingArrivesAfterTheManagerIsGone) {
    ManagerRig rig;
    ASSERT_TRUE(rig.manager->start());
    rig.keyboard.press(kCtrl | kShift);
    rig.manager.reset();
    EXPECT_FALSE(rig.keyboard.running());
    rig.queue.advance(1.0);  // the queued flag change and timer find nothing
    EXPECT_TRUE(rig.delivered.empty());
}

}  // namespace
}  // namespace velmarune
