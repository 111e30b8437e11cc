#include <gtest/gtest.h>

#include "app/AppState.h"
#include "delivery/PasteLastDictation.h"
#include "delivery/RecentDictations.h"
#include "foundation/ManualMainQueue.h"
#include "platform/fake/FakeKeyboard.h"
#include "support/DeliveryDoubles.h"
#include "ui/StatusMenuModel.h"

namespace velmarune {
namespace {

struct MenuRig {
    ManualMainQueue queue;
    AppState state;
    ModifierCombo chord{kModifierControl | kModifierShift};
    std::optional<PasteShortcut> shortcut = PasteShortcut{};
    testing::RecordingDelivery delivery;
    testing::RecordingPrompts prompts;
    testing::RecordingDisplay display;
    FakeModifierState keys;
    std::shared_ptr<RecentDictations> recents = std::make_shared<RecentDictations>(queue);
    std::shared_ptr<PasteLastDictation> pasteLast = std::make_shared<PasteLastDictation>(
        PasteLastDictation::Dependencies{recents, delivery, prompts, display, keys, queue, {}});
    std::vector<std::string> inserted() const {
        std::vector<std::string> texts;
        for (const auto& paste : delivery.repastes) texts.push_back(paste.text);
        return texts;
    }
    StatusMenuModel model{{state, [this] { return chord; }, [this] { return shortcut; }}};
};

TEST(StatusMenuModel, TrayStatusFollowsModeAndQueue) {
    struct Case {
        AppMode mode;
        int64_t queued;
        int64_t badge;
        std::string label;
    };
    const Case cases[] = {
        {AppMode::idle, 0, 0, "Velmarune"},
        {AppMode::dictating, 0, 0, "Velmarune, recording"},
        {AppMode::dictating, 3, 3, "Velmarune, recording, transcribing 3"},
        {AppMode::transcribing, 1, 1, "Velmarune, transcribing 1"},
        {AppMode::pasting, 2, 2, "Velmarune, transcribing 2"},
    };
    for (const auto& c : cases) {
        MenuRig rig;
        rig.state.mode.set(c.mode);
        rig.state.queuedDictations.set(c.queued);
        EXPECT_EQ(rig.model.trayStatus(), (StatusMenuModel::TrayStatus{c.mode, c.badge, c.label}));
    }
}

TEST(StatusMenuModel, RecentGroupBeforeAndAfterTheStoreIsAttached) {
    MenuRig rig;
    auto menu = rig.model.menu();
    EXPECT_FALSE(menu.recentGroupVisible);
    EXPECT_FALSE(menu.pasteLastEnabled);
    rig.recents->add("early words");
    rig.model.pasteLast();  // not attached: nothing happens
    rig.model.clearRecent();
    rig.queue.advance(1.0);
    EXPECT_TRUE(rig.inserted().empty());
    EXPECT_EQ(rig.recents->entries().size(), 1u);

    rig.recents->clear("test");
    rig.model.attachRecent(rig.recents, rig.pasteLast);
    menu = rig.model.menu();
    EXPECT_TRUE(menu.recentGroupVisible);
    EXPECT_FALSE(menu.pasteLastEnabled);
    EXPECT_FALSE(menu.clearRecentEnabled);
    EXPECT_EQ(menu.recent, (std::vector<StatusMenuModel::RecentItem>{{std::nullopt, "None"}}));

    const auto seven = rig.recents->add("one two three four five six seven");
    rig.recents->add("abcdefgh abcdefgh abcdefgh abcdefgh abcd efgh");
    menu = rig.model.menu();
    EXPECT_TRUE(menu.pasteLastEnabled);
    EXPECT_TRUE(menu.clearRecentEnabled);
    ASSERT_EQ(menu.recent.size(), 2u);  // titles: RecentDictations.MenuTitles

    rig.model.pasteRecent(*seven);
    rig.model.pasteLast();
    rig.queue.advance(PasteLastDictation::kMenuDelaySeconds);
    EXPECT_EQ(rig.inserted(),
              (std::vector<std::string>{"one two three four five six seven",
                                        "abcdefgh abcdefgh abcdefgh abcdefgh abcd efgh"}));
    rig.model.clearRecent();
    EXPECT_TRUE(rig.recents->entries().empty());
}

TEST(StatusMenuModel, WordsOfTheMenuSpeakLinux) {
    MenuRig rig;
    EXPECT_EQ(rig.model.menu().hotkeyReminder, "Hold Ctrl+Shift to dictate");
    rig.chord = ModifierCombo{kModifierOption | kModifierCommand};
    EXPECT_EQ(rig.model.menu().hotkeyReminder, "Hold Alt+Super to dictate");

    struct Case {
        std::optional<PasteShortcut> shortcut;
        std::string title;
    };
    const Case cases[] = {
        {PasteShortcut{}, "Paste Last Dictation\tCtrl+Shift+Super+V"},
        {PasteShortcut{96, ModifierCombo{kModifierControl | kModifierOption}},
         "Paste Last Dictation\tCtrl+Alt+F5"},
        {std::nullopt, "Paste Last Dictation"},
    };
    for (const auto& c : cases) {
        rig.shortcut = c.shortcut;
        EXPECT_EQ(rig.model.menu().pasteLastTitle, c.title);
    }
}

TEST(StatusMenuModel, ModelsWarningAndUpdatesFollowTheirStateAndTheTrayHearsOfIt) {
    MenuRig rig;
    int changes = 0;
    rig.model.start([&] { ++changes; });
    EXPECT_FALSE(rig.model.menu().modelsNeededVisible);
    rig.state.engineStatus.set(WhisperStatus::needsModels({ModelSlot::hebrew}));
    EXPECT_TRUE(rig.model.menu().modelsNeededVisible);
    rig.state.engineStatus.set(WhisperStatus::loading());
    EXPECT_FALSE(rig.model.menu().modelsNeededVisible);
    rig.state.mode.set(AppMode::dictating);
    rig.state.queuedDictations.set(1);
    rig.state.lastTranscript.set("text");  // not shown by the tray
    EXPECT_EQ(changes, 4);

    EXPECT_FALSE(rig.model.menu().checkForUpdatesVisible);
    rig.model.checkForUpdates();  // nothing attached: nothing happens
    int checks = 0;
    rig.model.attachUpdater([&] { ++checks; });
    EXPECT_TRUE(rig.model.menu().checkForUpdatesVisible);
    rig.model.checkForUpdates();
    EXPECT_EQ(checks, 1);
}

}  // namespace
}  // namespace velmarune
