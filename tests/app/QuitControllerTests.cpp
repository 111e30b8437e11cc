#include <gtest/gtest.h>

#include "PipelineFixture.h"
#include "app/QuitController.h"

namespace velmarune::testing {
namespace {

class Quit : public PipelineFixture {
  protected:
    std::shared_ptr<QuitController> makeController(size_t answer) {
        return std::make_shared<QuitController>(QuitController::Dependencies{
            pipeline,
            [this, answer](const QuitAlert& alert) {
                alerts.push_back(alert);
                front.activate("velmarune:1");  // the alert brings us to the front
                return answer;
            },
            [this] { ++terminations; }});
    }

    std::vector<QuitAlert> alerts;
    int terminations = 0;
};

TEST_F(Quit, AnEmptyQueueOrTheSystemQuitsAtOnceElseTheUserChooses) {
    makeController(0)->requestQuit();
    EXPECT_EQ(terminations, 1);
    dictate();
    makeController(0)->requestQuit(std::string("power off"));
    EXPECT_EQ(terminations, 2);
    EXPECT_TRUE(alerts.empty());

    makeController(1)->requestQuit();  // "Quit" discards at once
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "1 dictation is still being transcribed.");
    EXPECT_EQ(alerts[0].informativeText, "Quitting discards it.");
    EXPECT_EQ(terminations, 3);
}

// After "Wait, Then Quit" the pastes wait for the window manager to give the
// focus back to the editor, then quitting follows the last one. Without the
// focus back within a second they are dropped, never pasted elsewhere.
TEST_F(Quit, WaitThenQuitPastesIntoTheEarlierFrontThenQuits) {
    for (const bool focusReturns : {true, false}) {
        SCOPED_TRACE(focusReturns);
        front.activate("org.example.editor:42");
        dictate();
        dictate();
        const size_t pastedBefore = pastes().size();
        const int terminationsBefore = terminations;
        auto controller = makeController(0);
        controller->requestQuit();
        ASSERT_EQ(alerts.back().message, "2 dictations are still being transcribed.");
        EXPECT_EQ(alerts.back().informativeText, "Quitting discards them.");
        EXPECT_EQ(alerts.back().buttons, (std::vector<std::string>{"Wait, Then Quit", "Quit"}));
        finishDecoding();
        queue.advance(0.5);
        EXPECT_EQ(pastes().size(), pastedBefore);
        if (!focusReturns) {
            queue.advance(0.5);
            EXPECT_EQ(pastes().size(), pastedBefore);
            EXPECT_EQ(terminations, terminationsBefore + 1);
            continue;
        }
        front.activate("org.example.editor:42");
        queue.advance(0.02);
        ASSERT_EQ(pastes().size(), pastedBefore + 1);
        completePaste(pastedBefore);
        EXPECT_EQ(terminations, terminationsBefore);
        ASSERT_EQ(pastes().size(), pastedBefore + 2);
        completePaste(pastedBefore + 1);
        EXPECT_EQ(terminations, terminationsBefore + 1);
    }
}

}  // namespace
}  // namespace velmarune::testing
