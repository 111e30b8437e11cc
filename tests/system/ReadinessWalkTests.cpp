#include <gtest/gtest.h>

#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "system/ReadinessWalk.h"

namespace velmarune {
namespace {

// Records what is shown and lets the test press the buttons.
class RecordingExplainer : public ReadinessExplainer {
  public:
    void present(const ReadinessExplanation& explanation, bool stillMissing,
                 std::function<void()> onContinue, std::function<void()> onNotNow) override {
        shown.push_back(explanation.title + (stillMissing ? " (still missing)" : ""));
        lastBody = explanation.body;
        pressContinue = std::move(onContinue);
        pressNotNow = std::move(onNotNow);
    }
    void dismiss() override { ++closed; }

    std::vector<std::string> shown;
    std::string lastBody;
    std::function<void()> pressContinue;
    std::function<void()> pressNotNow;
    int closed = 0;
};

class ReadinessWalkTest : public ::testing::Test {
  protected:
    void start(bool firstRun = true) {
        walk = std::make_shared<ReadinessWalk>(ReadinessWalk::Dependencies{
            &queue, &prober, [this] { return now; }, &explainer,
            [] { return std::string("Ctrl+Alt"); }, [this] { return controlUsed; }});
        walk->run(firstRun, [this] { ++completions; });
        settle();
    }
    // Runs the probe and its answer on the main queue.
    void settle() {
        while (prober.runAll() + queue.runPending() > 0) {
        }
    }

    static Readiness ready() { return {{true, 1, "Mic"}, true, true, {}}; }

    ManualMainQueue queue;
    ManualExecutor prober;
    RecordingExplainer explainer;
    Readiness now = ready();
    std::shared_ptr<ReadinessWalk> walk;
    int completions = 0;
    bool controlUsed = false;
};

TEST_F(ReadinessWalkTest, ExplainsOnlyWhatIsMissingInOrder) {
    start();
    EXPECT_TRUE(explainer.shown.empty());
    EXPECT_EQ(completions, 1);

    completions = explainer.closed = 0;
    now.microphone = {true, 0, ""};
    now.pasteKeystroke = false;
    start();
    ASSERT_EQ(explainer.shown, std::vector<std::string>{"Microphone"});
    EXPECT_NE(explainer.lastBody.find("No microphone is connected."), std::string::npos);
    EXPECT_EQ(completions, 0);  // start-up waits for the user's answer

    explainer.pressNotNow();
    settle();
    ASSERT_EQ(explainer.shown, (std::vector<std::string>{"Microphone", "Pasting Text"}));
    explainer.pressNotNow();
    settle();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(explainer.closed, 1);
}

TEST_F(ReadinessWalkTest, ContinueChecksAgainAndStaysWhileStillMissing) {
    now.keyListening = false;
    now.keyListeningFix = "Join the input group.";  // a Wayland session's own explanation
    start();
    ASSERT_EQ(explainer.shown, std::vector<std::string>{"Push-to-Talk Keys"});
    EXPECT_NE(explainer.lastBody.find("(Ctrl+Alt)"), std::string::npos) << explainer.lastBody;
    EXPECT_NE(explainer.lastBody.find("keystrokes.\n\nJoin the input group."), std::string::npos);

    auto continueOnce = explainer.pressContinue;
    continueOnce();
    continueOnce();  // a second press while the first looks again counts once
    settle();
    EXPECT_EQ(explainer.shown,
              (std::vector<std::string>{"Push-to-Talk Keys", "Push-to-Talk Keys (still missing)"}));
    EXPECT_EQ(completions, 0);

    now.keyListening = true;
    explainer.pressContinue();
    settle();
    EXPECT_EQ(explainer.shown.size(), 2u);
    EXPECT_EQ(completions, 1);
}

// Someone who bound `velmarune ptt` in the compositor chose not to let
// Velmarune read the keyboards: after the first run that is not asked again
// (and does not hold start-up), while other needs still are.
TEST_F(ReadinessWalkTest, KeysAreNotAskedForAgainOnceThePushToTalkControlServes) {
    struct Case {
        bool firstRun, controlUsed;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {true, true, {"Push-to-Talk Keys"}},
        {false, false, {"Push-to-Talk Keys"}},
        {false, true, {"Pasting Text"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.firstRun << c.controlUsed);
        explainer.shown.clear();
        now.keyListening = now.pasteKeystroke = false;
        controlUsed = c.controlUsed;
        start(c.firstRun);
        EXPECT_EQ(explainer.shown, c.shown);
    }
    now.pasteKeystroke = true;
    start(false);
    EXPECT_EQ(completions, 1) << "nothing else missing: start-up goes on at once";
}

}  // namespace
}  // namespace velmarune
