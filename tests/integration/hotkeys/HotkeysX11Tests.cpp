#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include "delivery/X11TestClients.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/GlobalHotKey.h"
#include "hotkeys/HotkeyConflictScanner.h"
#include "hotkeys/HotkeyManager.h"
#include "platform/linux/LinuxDesktopShortcutSource.h"
#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11KeyboardMonitor.h"
#include "support/PumpedMainQueue.h"
#include "support/TempDir.h"
#include "support/XRig.h"

namespace velmarune::testing {
namespace {

using Event = ModifierMatcher::Event;

// Every wait below is bounded; these are the bounds.
constexpr double kEventTimeoutSeconds = 3.0;
constexpr double kQuietSeconds = 0.3;

// The listener and the paste hot key on a server without a window manager
// (the tests focus their own window), and a keyboard to type on it.
class X11Keys : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok());
        ASSERT_TRUE(keys.ok());
        manager->onPTTEvent = [this](const Event& e) { events.push_back(e); };
    }
    bool waitForEvents(size_t count) {
        return queue.runUntil([&] { return events.size() >= count; }, kEventTimeoutSeconds);
    }
    bool waitForActions(int count) {
        return queue.runUntil([&] { return actions == count; }, kEventTimeoutSeconds);
    }

    XRig x{XRig::Options{false}};
    XTestKeyboard keys;
    PumpedMainQueue queue;
    MemoryUserDefaults defaults;
    X11KeyboardMonitor monitor;
    std::shared_ptr<HotkeyManager> manager =
        std::make_shared<HotkeyManager>(defaults, queue, monitor);
    std::vector<Event> events;
    X11HotKeyService service;
    int actions = 0;
    std::shared_ptr<GlobalHotKey> hotKey =
        std::make_shared<GlobalHotKey>(service, queue, [this] { ++actions; });
};

TEST_F(X11Keys, HoldingTheChordActivatesAndReleasingEndsIt) {
    ASSERT_TRUE(manager->start());
    keys.press("Control_L");
    keys.press("Shift_L");
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events[0], Event::activated());

    // Caps Lock while dictating changes nothing.
    keys.press("Caps_Lock");
    keys.release("Caps_Lock");
    queue.runFor(kQuietSeconds);
    EXPECT_EQ(events.size(), 1u);

    keys.release("Shift_L");
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events[1], Event::released());
    keys.release("Control_L");
    // A second release of a key already up (as some tools send) is harmless.
    keys.release("Control_L");

    // Super is Command: adding it to the held chord hands over to Paste Last.
    keys.press("Shift_R");
    keys.press("Control_R");
    ASSERT_TRUE(waitForEvents(3));
    keys.press("Super_L");
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_EQ(events[3],
              Event::releasedByAddedModifier(kModifierControl | kModifierShift | kModifierCommand));
    for (const char* key : {"Super_L", "Control_R", "Shift_R"}) keys.release(key);
    queue.runFor(kQuietSeconds);
    EXPECT_EQ(events.size(), 4u);
    // Every release was seen, the right-hand keys' and Super's too.
    EXPECT_EQ(manager->matcher()->state(), ModifierMatcher::State::idle);
}

TEST_F(X11Keys, AShortcutWithinTheDwellPassesThroughUnchanged) {
    // A generous dwell keeps this stable on a loaded machine; the exact
    // timing rule is covered by the unit tests.
    defaults.setInteger("pttDwellMs", 250);
    PasteTarget window("Keys");
    ASSERT_TRUE(window.takeFocus(5.0));
    ASSERT_TRUE(manager->start());

    keys.press("Control_L");
    keys.press("Shift_L");
    keys.press("t");
    keys.release("t");
    auto press = window.nextPress(kEventTimeoutSeconds);
    // The window sees Control, Shift and then T with both modifiers held.
    while (press && press->keycode != keys.keycode("t")) {
        press = window.nextPress(kEventTimeoutSeconds);
    }
    ASSERT_TRUE(press.has_value());
    constexpr uint16_t both = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL;
    EXPECT_EQ(press->state & both, both);

    queue.runFor(0.5);  // past the dwell
    keys.release("Shift_L");
    keys.release("Control_L");
    queue.runFor(kQuietSeconds);
    EXPECT_TRUE(events.empty());
}

TEST_F(X11Keys, TheHotKeyFiresOncePerPressAndIsConsumed) {
    PasteTarget window("Keys");
    ASSERT_TRUE(window.takeFocus(5.0));
    hotKey->set(PasteShortcut{});  // Ctrl+Shift+Super+V
    ASSERT_TRUE(hotKey->registered());

    keys.tap({"Control_L", "Shift_L", "Super_L"}, "v");
    ASSERT_TRUE(waitForActions(1));
    // Held past the key-repeat delay, it still acts once.
    for (const char* key : {"Control_L", "Shift_L", "Super_L", "v"}) keys.press(key);
    queue.runFor(0.9);
    for (const char* key : {"v", "Super_L", "Shift_L", "Control_L"}) keys.release(key);
    queue.runFor(kQuietSeconds);
    EXPECT_EQ(actions, 2);

    // With Caps Lock on the grab still holds.
    keys.tap({}, "Caps_Lock");
    keys.tap({"Control_L", "Shift_L", "Super_L"}, "v");
    EXPECT_TRUE(waitForActions(3));
    keys.tap({}, "Caps_Lock");

    // The focused window never saw V.
    while (auto press = window.nextPress(0.2)) {
        EXPECT_NE(press->keycode, keys.keycode("v"));
    }

    // Suspended, the shortcut reaches the window instead.
    hotKey->set(std::nullopt);
    keys.tap({"Control_L", "Shift_L", "Super_L"}, "v");
    bool sawV = false;
    while (auto press = window.nextPress(1.0)) {
        sawV = sawV || press->keycode == keys.keycode("v");
    }
    EXPECT_TRUE(sawV);
    queue.runFor(kQuietSeconds);
    EXPECT_EQ(actions, 3);
}

TEST_F(X11Keys, AHotKeyHeldByAnotherClientFailsWithItsStatus) {
    ForeignGrab other("v");
    ASSERT_TRUE(other.ok());
    hotKey->set(PasteShortcut{});
    EXPECT_FALSE(hotKey->registered());
    EXPECT_EQ(hotKey->lastStatus(), 10);  // BadAccess

    // A free shortcut then works.
    hotKey->set(PasteShortcut{35, ModifierCombo{kModifierControl | kModifierOption}});
    ASSERT_TRUE(hotKey->registered());
    keys.tap({"Control_L", "Alt_L"}, "p");
    EXPECT_TRUE(waitForActions(1));
}

TEST(X11Backends, FailWithoutAnXServer) {
    setenv("DISPLAY", ":97531", 1);
    PumpedMainQueue queue;
    MemoryUserDefaults defaults;
    X11KeyboardMonitor monitor;
    EXPECT_FALSE(std::make_shared<HotkeyManager>(defaults, queue, monitor)->start());
    X11HotKeyService service;
    auto hotKey = std::make_shared<GlobalHotKey>(service, queue, [] {});
    hotKey->set(PasteShortcut{});
    EXPECT_FALSE(hotKey->registered());
    EXPECT_EQ(hotKey->lastStatus(), -1);
    unsetenv("DISPLAY");
}

TEST(LinuxDesktopShortcuts, ReadsKdeShortcutsAndIsAbsentWhenNothingIsReadable) {
    TempDir dir{"velmarune-kde"};
    LinuxDesktopShortcutSource nothing(dir.path(), {});
    EXPECT_EQ(nothing.read(), std::nullopt);

    std::ofstream(dir.path() / "kglobalshortcutsrc")
        << "[kwin]\nWindow Close=Alt+F4,Alt+F4,Close Window\nKill=none,Meta+Esc,Kill\n";
    LinuxDesktopShortcutSource kde(dir.path(), {"org.example.no-such-schema"});
    EXPECT_EQ(HotkeyConflictScanner::systemShortcuts(kde),
              (std::vector<SystemShortcut>{{118, kModifierOption, SystemShortcut::Desktop::kde}}));
}

}  // namespace
}  // namespace velmarune::testing
