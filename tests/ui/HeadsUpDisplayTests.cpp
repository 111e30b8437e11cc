#include <gtest/gtest.h>

#include "foundation/ManualMainQueue.h"
#include "ui/HeadsUpDisplay.h"
#include "ui/PanelStack.h"

namespace velmarune {
namespace {

struct RecordingView : HeadsUpDisplay::View {
    std::vector<std::string> events;
    void present(const HeadsUpDisplay::Content& content, double fadeSeconds) override {
        events.push_back("present " + content.text + (content.showsCopy ? " +copy" : "") +
                         " fade " + std::to_string(static_cast<int>(fadeSeconds * 1000)));
    }
    void remove(double fadeSeconds) override {
        events.push_back("remove fade " + std::to_string(static_cast<int>(fadeSeconds * 1000)));
    }
};

struct HudRig {
    ManualMainQueue queue;
    RecordingView view;
    bool animations = true;
    std::vector<std::string> copied;
    std::shared_ptr<HeadsUpDisplay> hud = std::make_shared<HeadsUpDisplay>(
        HeadsUpDisplay::Dependencies{queue, view, [this] { return animations; },
                                     [this](const std::string& text) { copied.push_back(text); }});
};

TEST(HeadsUpDisplay, ShowsForItsDurationANewerTextReplacesItAtOnceAndFadesOnlyWithAnimations) {
    HudRig rig;
    rig.hud->show("Hello world.", true, HeadsUpDisplay::kTranscriptSeconds);
    EXPECT_TRUE(rig.view.events.empty());  // posted, even from the main thread
    rig.queue.runPending();
    EXPECT_EQ(rig.view.events, std::vector<std::string>{"present Hello world. +copy fade 150"});

    rig.queue.advance(1.0);
    rig.hud->show("Microphone unavailable", false, HeadsUpDisplay::kMessageSeconds);
    rig.queue.runPending();
    // The first display's timer (due at 1.5 s) must not cut the second short.
    rig.queue.advance(4.9);
    EXPECT_EQ(rig.view.events.back(), "present Microphone unavailable fade 150");
    rig.queue.advance(0.1);
    EXPECT_EQ(rig.view.events.back(), "remove fade 120");
    EXPECT_FALSE(rig.hud->current());
    EXPECT_EQ(rig.view.events.size(), 3u);

    // Without animations it shows and hides without fading.
    rig.animations = false;
    rig.hud->show("Nothing to paste.", false, HeadsUpDisplay::kNoticeSeconds);
    rig.queue.advance(HeadsUpDisplay::kNoticeSeconds);
    EXPECT_EQ(rig.view.events[3], "present Nothing to paste. fade 0");
    EXPECT_EQ(rig.view.events[4], "remove fade 0");
}

TEST(HeadsUpDisplay, CopyHandsTheTextOverAndDismisses) {
    HudRig rig;
    rig.hud->show("שלום world", true, 1.5);
    rig.queue.runPending();
    rig.hud->copy();
    EXPECT_EQ(rig.copied, std::vector<std::string>{"שלום world"});
    EXPECT_EQ(rig.view.events.back(), "remove fade 120");
    rig.hud->copy();  // nothing shown: nothing copied
    rig.hud->dismiss();
    rig.queue.advance(2.0);
    EXPECT_EQ(rig.copied.size(), 1u);
    EXPECT_EQ(rig.view.events.size(), 2u);
}

TEST(PanelStack, StacksShownPanelsTopDownAtTheTopRightOfTheWorkArea) {
    const PanelRect workArea{0, 28, 1280, 772};  // a 28 px panel at the top
    struct Case {
        PanelStack::Sizes sizes;
        PanelStack::Sizes frames;
    };
    const PanelRect queue{0, 0, 200, 30}, hud{0, 0, 300, 50}, prompt{0, 0, 388, 120};
    const Case cases[] = {
        {{std::nullopt, hud, std::nullopt},
         {std::nullopt, PanelRect{960, 48, 300, 50}, std::nullopt}},
        {{queue, hud, std::nullopt},
         {PanelRect{1060, 48, 200, 30}, PanelRect{960, 86, 300, 50}, std::nullopt}},
        {{queue, std::nullopt, prompt},
         {PanelRect{1060, 48, 200, 30}, std::nullopt, PanelRect{872, 86, 388, 120}}},
        {{queue, hud, prompt},
         {PanelRect{1060, 48, 200, 30}, PanelRect{960, 86, 300, 50},
          PanelRect{872, 144, 388, 120}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PanelStack::place(workArea, c.sizes), c.frames);
    }
    // Wider than a small screen: its leading edge stays on it.
    const auto narrow = PanelStack::place({100, 0, 300, 600}, {std::nullopt, std::nullopt, prompt});
    EXPECT_EQ(narrow[2]->x, 100);
}

}  // namespace
}  // namespace velmarune
