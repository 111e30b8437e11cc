#include <gtest/gtest.h>

#include "PipelineFixture.h"
#include "app/QuitController.h"

namespace velmarune::testing {
namespace {

class Quit : public PipelineFixture {
  protected:
    std::shared_ptr<QuitController> makeController(size_t answer) {
        return std::make_shared<QuitController>(QuitController::Dependencies{
            &queue, pipeline, [this] { return front.frontmost(); },
            [this, answer](const QuitAlert& alert) {
                alerts.push_back(alert);
                front.activate("velmarune:1");  // the alert brings us to the front
                return answer;
            },
            [this](const std::optional<std::string>& app) { front.activate(app); },
            [this] { ++terminations; }});
    }

    std::vector<QuitAlert> alerts;
    int terminations = 0;
};

TEST_F(Quit, AlertWordingFollowsTheCount) {
    EXPECT_EQ(QuitAlert::forQueued(1).message, "1 dictation is still being transcribed.");
    EXPECT_EQ(QuitAlert::forQueued(1).informativeText, "Quitting discards it.");
    EXPECT_EQ(QuitAlert::forQueued(2).message, "2 dictations are still being transcribed.");
    EXPECT_EQ(QuitAlert::forQueued(2).informativeText, "Quitting discards them.");
    EXPECT_EQ(QuitAlert::forQueued(2).buttons,
              (std::vector<std::string>{"Wait, Then Quit", "Quit"}));
}

TEST_F(Quit, AnEmptyQueueOrTheSystemQuitsWithoutAsking) {
    makeController(0)->requestQuit();
    EXPECT_EQ(terminations, 1);
    dictate();
    makeController(0)->requestQuit(std::string("power off"));
    EXPECT_EQ(terminations, 2);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(logSink->contains("Quit by the system (reason=power off): not asking"));
}

TEST_F(Quit, QuitDiscardsAtOnce) {
    dictate();
    makeController(1)->requestQuit();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(terminations, 1);
}

TEST_F(Quit, WaitThenQuitQuitsRightAfterTheLastPaste) {
    dictate();
    dictate();
    auto controller = makeController(0);
    controller->requestQuit();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "2 dictations are still being transcribed.");
    EXPECT_EQ(terminations, 0);

    finishDecoding();
    // The editor is back in front, so the pastes go there.
    ASSERT_EQ(pastes().size(), 1u);
    completePaste(0);
    EXPECT_EQ(terminations, 0);
    ASSERT_EQ(pastes().size(), 2u);
    completePaste(1);
    EXPECT_EQ(terminations, 1);
}

}  // namespace
}  // namespace velmarune::testing
