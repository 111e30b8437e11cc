#include <gtest/gtest.h>

#include <memory>

#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/GlobalHotKey.h"
#include "hotkeys/HotkeyConflictScanner.h"
#include "platform/fake/FakeDesktopShortcutSource.h"
#include "platform/fake/FakeHotKeyService.h"
#include "support/CapturingLogSink.h"

namespace velmarune {
namespace {

constexpr uint64_t kCtrl = kModifierControl;
constexpr uint64_t kShift = kModifierShift;
constexpr uint64_t kCmd = kModifierCommand;
constexpr uint64_t kOpt = kModifierOption;

struct HotKeyRig {
    ManualMainQueue queue;
    FakeHotKeyService service;
    MemoryUserDefaults defaults;
    int actions = 0;
    std::shared_ptr<GlobalHotKey> hotKey =
        std::make_shared<GlobalHotKey>(service, queue, [this] { ++actions; });
};

TEST(GlobalHotKey, EachPressRunsTheActionOnTheMainQueueWhileRegistered) {
    HotKeyRig rig;
    rig.hotKey->set(PasteShortcut{});
    ASSERT_EQ(rig.service.registration(),
              std::make_pair(uint16_t{9}, ModifierCombo{kCtrl | kShift | kCmd}));
    rig.service.press();
    rig.service.press();
    EXPECT_EQ(rig.actions, 0);  // not yet: one main-queue turn later
    rig.queue.runPending();
    EXPECT_EQ(rig.actions, 2);

    // Suspended while a shortcut is recorded; resuming reads the stored one.
    rig.hotKey->suspend(true, rig.defaults);
    EXPECT_FALSE(rig.hotKey->registered());
    rig.service.press();
    rig.queue.runPending();
    EXPECT_EQ(rig.actions, 2);
    PasteShortcut::save(rig.defaults, PasteShortcut{35, ModifierCombo{kCtrl | kOpt}});
    rig.hotKey->suspend(false, rig.defaults);
    EXPECT_EQ(rig.service.registration(),
              std::make_pair(uint16_t{35}, ModifierCombo{kCtrl | kOpt}));
    EXPECT_EQ(rig.service.handlerInstalls(), 1);

    // A press that arrives after the object is gone does nothing.
    rig.service.press();
    rig.hotKey.reset();
    rig.queue.runPending();
    EXPECT_EQ(rig.actions, 2);
}

TEST(GlobalHotKey, ARefusedShortcutKeepsItsStatusAndAFreeOneThenWorks) {
    HotKeyRig rig;
    rig.service.holdElsewhere(9, ModifierCombo{kCtrl | kShift | kCmd});
    rig.hotKey->set(PasteShortcut{});
    EXPECT_FALSE(rig.hotKey->registered());
    EXPECT_EQ(rig.hotKey->lastStatus(), 10);

    rig.hotKey->set(PasteShortcut{35, ModifierCombo{kCtrl | kOpt}});
    EXPECT_TRUE(rig.hotKey->registered());
    rig.service.press();
    rig.queue.runPending();
    EXPECT_EQ(rig.actions, 1);
}

TEST(HotkeyConflictScanner, ParsesDesktopAccelerators) {
    using HotkeyConflictScanner::parseGnomeAccelerator;
    using HotkeyConflictScanner::parseKdeShortcut;
    EXPECT_EQ(parseGnomeAccelerator("<Primary><Shift>v"), (SystemShortcut{9, kCtrl | kShift}));
    EXPECT_EQ(parseGnomeAccelerator("<Super><Alt>slash"), (SystemShortcut{44, kCmd | kOpt}));
    EXPECT_EQ(parseGnomeAccelerator("<Hyper>F5"),
              (SystemShortcut{96, HotkeyConflictScanner::kUnexpressibleModifier}));
    EXPECT_EQ(parseGnomeAccelerator("<Control>XF86AudioMute"), std::nullopt);
    EXPECT_EQ(parseKdeShortcut("Meta+Ctrl+Return"), (SystemShortcut{36, kCmd | kCtrl}));
    EXPECT_EQ(parseKdeShortcut("Alt+F4"), (SystemShortcut{118, kOpt}));
    EXPECT_EQ(parseKdeShortcut("Ctrl++"), std::nullopt);  // "+" is not in the key table
}

const char* kGnome =
    "org.gnome.desktop.wm.keybindings close ['<Alt>F4']\n"
    "org.gnome.desktop.wm.keybindings switch-windows ['<Alt>Tab', '<Super>Tab']\n"
    "org.gnome.desktop.wm.keybindings begin-move @as []\n"
    "org.gnome.desktop.wm.keybindings minimize ['disabled']\n"
    "org.gnome.settings-daemon.plugins.media-keys screensaver ['<Super>l']\n"
    "org.gnome.settings-daemon.plugins.media-keys terminal '<Primary><Alt>t'\n"
    "org.gnome.settings-daemon.plugins.media-keys volume-mute ['AudioMute']\n"
    "org.gnome.settings-daemon.plugins.media-keys max-screencast-length uint32 30\n"
    "org.gnome.settings-daemon.plugins.media-keys custom-keybindings ['/org/gnome/x/']\n";

const char* kKde =
    "[kwin]\n"
    "_k_friendly_name=KWin\n"
    "Window Close=Alt+F4,Alt+F4,Close Window\n"
    "Expose=Ctrl+F9\\tMeta+W,Ctrl+F9,Toggle Present Windows\n"
    "Kill Window=none,Meta+Ctrl+Esc,Kill a Window\n"
    "[org.kde.konsole.desktop]\n"
    "_launch=Ctrl+Alt+T,Ctrl+Alt+T,Konsole\n";

TEST(HotkeyConflictScanner, ListsEnabledShortcutsItCanExpressAndCountsThemAtStartUp) {
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    FakeDesktopShortcutSource source;
    EXPECT_TRUE(HotkeyConflictScanner::startupCount(source).empty());
    EXPECT_TRUE(sink->contains("desktop keyboard shortcuts not readable; 0 conflicts"));
    EXPECT_TRUE(HotkeyConflictScanner::systemShortcuts(source).empty());

    source.text = DesktopShortcutText{{kGnome}, std::string(kKde)};
    constexpr auto gnome = SystemShortcut::Desktop::gnome;
    constexpr auto kde = SystemShortcut::Desktop::kde;
    const std::vector<SystemShortcut> expected{
        {118, kOpt, gnome},        {48, kOpt, gnome}, {48, kCmd, gnome}, {37, kCmd, gnome},
        {17, kCtrl | kOpt, gnome},  //
        {118, kOpt, kde},          {101, kCtrl, kde}, {13, kCmd, kde},   {17, kCtrl | kOpt, kde},
    };
    EXPECT_EQ(HotkeyConflictScanner::systemShortcuts(source), expected);
    EXPECT_EQ(source.reads, 3);  // one read a call
    EXPECT_TRUE(HotkeyConflictScanner::startupCount(source).empty());
    // GNOME: 6 accelerators (AudioMute counts though we cannot express it);
    // KDE: 4 active shortcuts.
    EXPECT_TRUE(sink->contains("Scanned 10 enabled system hotkeys; 0 modifier-only matches"))
        << ::testing::PrintToString(sink->messages("HotkeyConflictScanner"));
}

}  // namespace
}  // namespace velmarune
