#include <gtest/gtest.h>

#include "delivery/DidntPasteList.h"

namespace velmarune {
namespace {

std::string joined(const std::vector<DidntPastePrompt>& prompts) {
    std::string texts;
    for (const auto& prompt : prompts) texts += (texts.empty() ? "" : ",") + prompt.text;
    return texts;
}

struct RecordingPresenter : DidntPastePresenter {
    std::vector<std::string> events;
    std::function<void(size_t)> paste;
    std::function<void()> close;
    void show(const std::vector<DidntPastePrompt>& prompts, std::function<void(size_t)> pasteAction,
              std::function<void()> closeAction) override {
        events.push_back("show " + joined(prompts));
        paste = std::move(pasteAction);
        close = std::move(closeAction);
    }
    void hide() override { events.push_back("hide"); }
};

struct ListRig {
    RecordingPresenter presenter;
    std::shared_ptr<DidntPasteList> list = std::make_shared<DidntPasteList>(presenter);
    std::vector<std::string> actions;

    DidntPastePrompt prompt(const std::string& text, std::optional<int64_t> id = std::nullopt) {
        return {text, id,
                [this, text] {
                    actions.push_back("paste " + text + " after " + presenter.events.back());
                },
                [this, text] {
                    actions.push_back("close " + text + " after " + presenter.events.back());
                }};
    }
    std::string texts() const { return joined(list->prompts()); }
};

TEST(DidntPasteList, KeepsTheLastFiveAndRestoresClosedPromptsInFront) {
    ListRig rig;
    for (int i = 1; i <= 6; ++i) rig.list->show(rig.prompt(std::to_string(i)));
    EXPECT_EQ(rig.presenter.events.back(), "show 2,3,4,5,6");

    auto taken = rig.list->dismiss();
    EXPECT_EQ(taken.size(), 5u);
    EXPECT_FALSE(rig.list->panelShowing());
    EXPECT_TRUE(rig.actions.empty());  // dismissing runs no callbacks

    for (auto text : {"a", "b", "c"}) rig.list->show(rig.prompt(text));
    std::vector<DidntPastePrompt> four;
    for (auto text : {"w", "x", "y", "z"}) four.push_back(rig.prompt(text));
    rig.list->restore(std::move(four));
    EXPECT_EQ(rig.texts(), "y,z,a,b,c");
    const auto events = rig.presenter.events.size();
    rig.list->restore({});
    EXPECT_EQ(rig.presenter.events.size(), events);
}

TEST(DidntPasteList, PasteClosesThePanelBeforeThePromptRuns) {
    ListRig rig;
    rig.list->show(rig.prompt("only"));
    rig.presenter.paste(3);  // outside the list
    EXPECT_TRUE(rig.actions.empty());
    rig.presenter.paste(0);
    EXPECT_EQ(rig.actions, std::vector<std::string>{"paste only after hide"});
    EXPECT_FALSE(rig.list->panelShowing());
}

TEST(DidntPasteList, CloseRunsEveryPromptsCloseOldestFirstAfterThePanelIsGone) {
    ListRig rig;
    rig.list->show(rig.prompt("one"));
    rig.list->show(rig.prompt("two"));
    rig.presenter.close();
    EXPECT_EQ(rig.actions,
              (std::vector<std::string>{"close one after hide", "close two after hide"}));
    EXPECT_TRUE(rig.list->prompts().empty());
}

TEST(DidntPasteList, WindowPastedRemovesOnlyTheFirstPromptWithThatID) {
    ListRig rig;
    rig.list->show(rig.prompt("no id"));
    rig.list->show(rig.prompt("seven", 7));
    rig.list->show(rig.prompt("seven again", 7));
    const auto events = rig.presenter.events.size();
    rig.list->windowPasted(9);
    EXPECT_EQ(rig.presenter.events.size(), events);  // not rebuilt
    rig.list->windowPasted(7);
    EXPECT_EQ(rig.texts(), "no id,seven again");
    EXPECT_EQ(rig.presenter.events.back(), "show no id,seven again");
}

}  // namespace
}  // namespace velmarune
