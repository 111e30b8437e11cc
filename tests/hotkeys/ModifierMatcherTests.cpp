#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

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

// Plays `script` against a Ctrl+Shift matcher with a 40 ms dwell. Words:
// "Ctrl+Shift" (the modifiers held now; "Caps" is Caps Lock, "dev" the
// left/right device bits, "none" nothing), "key17" (a key pressed), "50ms"
// (time passes). Returns the events as words ("on", "off", "added Ctrl+Shift+Super",
// "key4") and the state at the end.
std::pair<std::string, State> play(const std::string& script) {
    ManualMainQueue queue;
    std::string events;
    auto matcher = ModifierMatcher::create(queue, HotkeyBindings{}, 40, [&](const Event& e) {
        events += events.empty() ? "" : ", ";
        events += e == Event::activated()  ? std::string("on")
                  : e == Event::released() ? std::string("off")
                  : e.flags != 0           ? "added " + ModifierCombo{e.flags}.symbols()
                                           : "key" + std::to_string(e.keyCode);
    });
    std::istringstream words(script);
    for (std::string word; words >> word;) {
        if (word.ends_with("ms")) {
            queue.advance(std::stod(word) / 1000.0);
        } else if (word.starts_with("key")) {
            matcher->keyDown(std::stoll(word.substr(3)));
        } else {
            uint64_t flags = 0;
            std::istringstream names(word);
            for (std::string name; std::getline(names, name, '+');) {
                const std::pair<const char*, uint64_t> bits[] = {
                    {"Ctrl", kCtrl}, {"Shift", kShift},   {"Alt", kOpt},
                    {"Super", kCmd}, {"Caps", kCapsLock}, {"dev", 0x3}};
                for (const auto& [bitName, bit] : bits) flags |= name == bitName ? bit : 0;
            }
            matcher->flagsChanged(flags);
        }
    }
    return {events, matcher->state()};
}

TEST(ModifierMatcher, ScriptedPresses) {
    struct Case {
        const char* script;
        const char* events;
        State end;
    };
    const Case cases[] = {
        // The exact chord held through the dwell activates once.
        {"Ctrl Ctrl+Shift 39ms", "", State::armed},
        {"Ctrl Ctrl+Shift 40ms 500ms", "on", State::dictating},
        // A key within the dwell passes through until every modifier is up.
        {"Ctrl+Shift key17 100ms", "", State::passthrough},
        {"Ctrl+Shift key17 Ctrl Ctrl+Shift 100ms", "", State::passthrough},
        {"Ctrl+Shift key17 none Ctrl+Shift 50ms", "on", State::dictating},
        // A superset never arms; letting go early cancels the first timer.
        {"Ctrl+Alt+Shift 100ms", "", State::idle},
        {"Ctrl+Shift 30ms Ctrl Ctrl+Shift 15ms", "", State::armed},
        {"Ctrl+Shift 30ms Ctrl Ctrl+Shift 40ms", "on", State::dictating},
        // Lock and device bits never count, not even toggled while dictating.
        {"Ctrl+Shift+Caps+dev 50ms Ctrl+Shift Ctrl+Shift+Caps", "on", State::dictating},
        // While dictating: keys are incidental; any other set ends it.
        {"Ctrl+Shift 50ms key4", "on, key4", State::dictating},
        {"Ctrl+Shift 50ms Ctrl+Shift+Super", "on, added Ctrl+Shift+Super", State::idle},
        {"Ctrl+Shift 50ms Ctrl+Shift+Alt+Caps", "on, added Ctrl+Alt+Shift", State::idle},
        {"Ctrl+Shift 50ms Ctrl", "on, off", State::idle},
        {"Ctrl+Shift 50ms Ctrl+Super", "on, off", State::idle},
        {"Ctrl+Shift 50ms none", "on, off", State::idle},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(play(c.script), std::make_pair(std::string(c.events), c.end)) << c.script;
    }
}

TEST(ModifierMatcher, ZeroDwellActivatesOnTheNextTurnAndANewBindingAppliesInPlace) {
    ManualMainQueue queue;
    std::vector<Event> events;
    auto matcher = ModifierMatcher::create(queue, HotkeyBindings{}, 0,
                                           [&](const Event& e) { events.push_back(e); });
    matcher->flagsChanged(kCtrl | kShift);
    EXPECT_TRUE(events.empty());
    queue.runPending();
    EXPECT_EQ(events, std::vector<Event>{Event::activated()});

    matcher = ModifierMatcher::create(queue, HotkeyBindings{}, 40,
                                      [&](const Event& e) { events.push_back(e); });
    matcher->flagsChanged(kCtrl | kShift);
    matcher->setBindings(HotkeyBindings{ModifierCombo{kCtrl | kOpt}});
    queue.advance(0.05);  // the running timer is kept
    EXPECT_EQ(events.size(), 2u);
    matcher->flagsChanged(0);
    matcher->flagsChanged(kCtrl | kOpt);
    queue.advance(0.05);
    EXPECT_EQ(events.size(), 4u);  // released, then activated by the new chord
}

// The manager over a scripted keyboard.
struct ManagerRig {
    ManualMainQueue queue;
    MemoryUserDefaults defaults;
    FakeKeyboardMonitor keyboard;
    std::shared_ptr<HotkeyManager> manager =
        std::make_shared<HotkeyManager>(defaults, queue, keyboard);
    std::vector<Event> delivered;

    ManagerRig() {
        manager->onPTTEvent = [this](const Event& e) { delivered.push_back(e); };
    }
};

TEST(HotkeyManager, DeliversEventsOneTurnLater) {
    ManagerRig rig;
    rig.keyboard.setAvailable(false);
    EXPECT_FALSE(rig.manager->start());
    rig.keyboard.setAvailable(true);
    rig.defaults.setInteger("pttDwellMs", 20);
    ASSERT_TRUE(rig.manager->start());

    rig.keyboard.press(kCtrl | kShift);
    rig.queue.advance(0.020);
    EXPECT_EQ(rig.delivered, std::vector<Event>{Event::activated()});

    rig.keyboard.sendKeyDown(38);
    rig.keyboard.press(kCmd);
    rig.queue.runPending();
    EXPECT_EQ(rig.delivered, (std::vector<Event>{Event::activated(), Event::releasedByAddedModifier(
                                                                         kCtrl | kShift | kCmd)}));

    // Nothing arrives once the manager is gone.
    rig.keyboard.press(kCtrl | kShift);
    rig.manager.reset();
    EXPECT_FALSE(rig.keyboard.running());
    rig.queue.advance(1.0);
    EXPECT_EQ(rig.delivered.size(), 2u);
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

}  // namespace
}  // namespace velmarune
