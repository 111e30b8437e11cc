#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include "XTestKeyboard.h"
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

// No window manager: the tests focus their own window, and nothing here
// needs _NET_ACTIVE_WINDOW.
XRig::Options bareServer() {
    XRig::Options options;
    options.windowManager = false;
    return options;
}

struct ListenerRig {
    XRig x{bareServer()};
    PumpedMainQueue queue;
    MemoryUserDefaults defaults;
    X11KeyboardMonitor monitor;
    std::shared_ptr<HotkeyManager> manager =
        std::make_shared<HotkeyManager>(defaults, queue, monitor);
    std::vector<Event> events;

    ListenerRig() {
        manager->onPTTEvent = [this](const Event& e) { events.push_back(e); };
    }
    bool waitForEvents(size_t count) {
        return queue.runUntil([&] { return events.size() >= count; }, kEventTimeoutSeconds);
    }
};

TEST(X11Listener, HoldingTheChordActivatesAndReleasingEndsIt) {
    ListenerRig rig;
    ASSERT_TRUE(rig.x.ok());
    XTestKeyboard keys;
    ASSERT_TRUE(keys.ok());
    ASSERT_TRUE(rig.manager->start());

    keys.press("Control_L");
    keys.press("Shift_L");
    ASSERT_TRUE(rig.waitForEvents(1));
    EXPECT_EQ(rig.events[0], Event::activated());

    // Caps Lock while dictating changes nothing.
    keys.press("Caps_Lock");
    keys.release("Caps_Lock");
    rig.queue.runFor(kQuietSeconds);
    EXPECT_EQ(rig.events.size(), 1u);

    keys.release("Shift_L");
    ASSERT_TRUE(rig.waitForEvents(2));
    EXPECT_EQ(rig.events[1], Event::released());
    keys.release("Control_L");
    // A second release of a key already up (as some tools send) is harmless.
    keys.release("Control_L");

    // Super is Command: adding it to the held chord hands over to Paste Last.
    keys.press("Shift_R");
    keys.press("Control_R");
    ASSERT_TRUE(rig.waitForEvents(3));
    keys.press("Super_L");
    ASSERT_TRUE(rig.waitForEvents(4));
    EXPECT_EQ(rig.events[3],
              Event::releasedByAddedModifier(kModifierControl | kModifierShift | kModifierCommand));
    for (const char* key : {"Super_L", "Control_R", "Shift_R"}) keys.release(key);
    rig.queue.runFor(kQuietSeconds);
    EXPECT_EQ(rig.events.size(), 4u);
    EXPECT_EQ(rig.manager->matcher()->state(), ModifierMatcher::State::idle);
}

TEST(X11Listener, AShortcutWithinTheDwellPassesThroughUnchanged) {
    ListenerRig rig;
    ASSERT_TRUE(rig.x.ok());
    // A generous dwell keeps this stable on a loaded machine; the exact
    // timing rule is covered by the unit tests.
    rig.defaults.setInteger("pttDwellMs", 250);
    KeyWindow window;
    ASSERT_TRUE(window.ok());
    XTestKeyboard keys;
    ASSERT_TRUE(rig.manager->start());

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
    EXPECT_EQ(press->state & (kShiftMask | kControlMask), kShiftMask | kControlMask);

    rig.queue.runFor(0.5);
    EXPECT_TRUE(rig.events.empty());
    EXPECT_EQ(rig.manager->matcher()->state(), ModifierMatcher::State::passthrough);
    keys.release("Shift_L");
    keys.release("Control_L");
    rig.queue.runFor(kQuietSeconds);
    EXPECT_EQ(rig.manager->matcher()->state(), ModifierMatcher::State::idle);
    EXPECT_TRUE(rig.events.empty());
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

struct HotKeyRig {
    XRig x{bareServer()};
    PumpedMainQueue queue;
    X11HotKeyService service;
    int actions = 0;
    std::shared_ptr<GlobalHotKey> hotKey =
        std::make_shared<GlobalHotKey>(service, queue, [this] { ++actions; });
};

TEST(X11HotKey, FiresOncePerPressAndIsConsumed) {
    HotKeyRig rig;
    ASSERT_TRUE(rig.x.ok());
    KeyWindow window;
    ASSERT_TRUE(window.ok());
    XTestKeyboard keys;
    rig.hotKey->set(PasteShortcut{});  // Ctrl+Shift+Super+V
    ASSERT_TRUE(rig.hotKey->registered());

    keys.tap({"Control_L", "Shift_L", "Super_L"}, "v");
    ASSERT_TRUE(rig.queue.runUntil([&] { return rig.actions == 1; }, kEventTimeoutSeconds));
    rig.queue.runFor(kQuietSeconds);
    EXPECT_EQ(rig.actions, 1);

    // Held past the key-repeat delay, it still acts once.
    for (const char* key : {"Control_L", "Shift_L", "Super_L", "v"}) keys.press(key);
    rig.queue.runFor(0.9);
    for (const char* key : {"v", "Super_L", "Shift_L", "Control_L"}) keys.release(key);
    rig.queue.runFor(kQuietSeconds);
    EXPECT_EQ(rig.actions, 2);

    // With Caps Lock on the grab still holds.
    keys.press("Caps_Lock");
    keys.release("Caps_Lock");
    keys.tap({"Control_L", "Shift_L", "Super_L"}, "v");
    EXPECT_TRUE(rig.queue.runUntil([&] { return rig.actions == 3; }, kEventTimeoutSeconds));
    keys.press("Caps_Lock");
    keys.release("Caps_Lock");

    // The focused window never saw V.
    while (auto press = window.nextPress(0.2)) {
        EXPECT_NE(press->keycode, keys.keycode("v"));
    }

    // Suspended, the shortcut reaches the window instead.
    rig.hotKey->set(std::nullopt);
    keys.tap({"Control_L", "Shift_L", "Super_L"}, "v");
    bool sawV = false;
    while (auto press = window.nextPress(1.0)) {
        if (press->keycode == keys.keycode("v"))
            sawV = true;
    }
    EXPECT_TRUE(sawV);
    rig.queue.runFor(kQuietSeconds);
    EXPECT_EQ(rig.actions, 3);
}

TEST(X11HotKey, AShortcutHeldByAnotherClientFailsWithItsStatus) {
    HotKeyRig rig;
    ASSERT_TRUE(rig.x.ok());
    ForeignGrab other("v");
    ASSERT_TRUE(other.ok());
    rig.hotKey->set(PasteShortcut{});
    EXPECT_FALSE(rig.hotKey->registered());
    EXPECT_EQ(rig.hotKey->lastStatus(), 10);  // BadAccess

    // A free shortcut then works.
    rig.hotKey->set(PasteShortcut{35, ModifierCombo{kModifierControl | kModifierOption}});
    ASSERT_TRUE(rig.hotKey->registered());
    XTestKeyboard keys;
    keys.tap({"Control_L", "Alt_L"}, "p");
    EXPECT_TRUE(rig.queue.runUntil([&] { return rig.actions == 1; }, kEventTimeoutSeconds));
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
