#include <gtest/gtest.h>

#include "app/AutoResetScheduler.h"
#include "app/CaptureWakeWatcher.h"
#include "foundation/ManualMainQueue.h"

namespace velmarune {
namespace {

class Scheduler : public ::testing::Test {
  protected:
    void SetUp() override {
        state->engineStatus.set(WhisperStatus::ready());
        scheduler = std::make_shared<AutoResetScheduler>(queue, state, [this] {
            ++resets;
            if (resetSucceeds) {
                state->lastResetTime.set(queue.now());
            }
        });
        scheduler->start();
    }

    ManualMainQueue queue;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    std::shared_ptr<AutoResetScheduler> scheduler;
    int resets = 0;
    bool resetSucceeds = true;
};

TEST_F(Scheduler, ResetsHourlyWhenIdle) {
    queue.advance(3599.9);
    EXPECT_EQ(resets, 0);
    queue.advance(0.1);
    EXPECT_EQ(resets, 1);
    queue.advance(3600);
    EXPECT_EQ(resets, 2);

    // A failed reset does not stop the hourly cycle; stop does.
    resetSucceeds = false;
    queue.advance(3600);
    queue.advance(3600);
    EXPECT_EQ(resets, 4);
    scheduler->stop();
    queue.advance(7200);
    EXPECT_EQ(resets, 4);
}

// The quiet minute and the hour are measured on the monotonic clock: a wall
// clock stepped an hour either way after the release changes neither.
class SchedulerWallStep : public Scheduler, public ::testing::WithParamInterface<double> {};

TEST_P(SchedulerWallStep, ARecentReleaseDefersUntilSixtySecondsHavePassed) {
    queue.advance(3570);
    state->lastPTTReleaseTime = queue.now();  // released 30 s before the fire time
    queue.stepWallClock(GetParam());
    queue.advance(30);
    EXPECT_EQ(resets, 0);
    queue.advance(30);  // 60 s since the release
    EXPECT_EQ(resets, 1);
    queue.advance(3599.9);
    EXPECT_EQ(resets, 1);
    queue.advance(0.1);
    EXPECT_EQ(resets, 2);
}

INSTANTIATE_TEST_SUITE_P(WallClock, SchedulerWallStep, ::testing::Values(0.0, -3600.0, 3600.0));

TEST_F(Scheduler, BusyModeOrEnginesNotReadyDefer) {
    state->mode.set(AppMode::transcribing);
    queue.advance(3600);
    EXPECT_EQ(resets, 0);
    state->mode.set(AppMode::idle);
    state->engineStatus.set(WhisperStatus::loading());
    queue.advance(30);
    EXPECT_EQ(resets, 0);
    state->engineStatus.set(WhisperStatus::ready());
    queue.advance(30);
    EXPECT_EQ(resets, 1);
}

TEST_F(Scheduler, AManualResetMovesTheNextOneAnHourLater) {
    queue.advance(1800);
    state->lastResetTime.set(queue.now());
    queue.advance(1800);
    EXPECT_EQ(resets, 0);
    queue.advance(1800);
    EXPECT_EQ(resets, 1);
}

class Watcher : public ::testing::Test {
  protected:
    void SetUp() override {
        watcher = std::make_shared<CaptureWakeWatcher>(CaptureWakeWatcher::Dependencies{
            &queue, [this] { return pressing; },
            [this](const std::string& r) { restarts.push_back(r); }, [this] { return stale; }});
        watcher->start(state);
    }

    ManualMainQueue queue;
    AppState state;
    std::shared_ptr<CaptureWakeWatcher> watcher;
    bool pressing = false;
    bool stale = false;
    std::vector<std::string> restarts;
};

TEST_F(Watcher, EventsWithinTwoSecondsRestartOnce) {
    watcher->handle(WakeEvent::screenUnlocked);
    queue.advance(1.0);
    watcher->handle(WakeEvent::displayWoke);
    EXPECT_EQ(restarts, std::vector<std::string>{"screen unlocked"});
    queue.advance(1.0);
    watcher->handle(WakeEvent::systemWoke);
    EXPECT_EQ(restarts, (std::vector<std::string>{"screen unlocked", "system woke"}));
}

TEST_F(Watcher, AFourthCaptureErrorWithinAMinuteIsIgnored) {
    for (int i = 0; i < 4; ++i) {
        watcher->handle(WakeEvent::captureError);
        queue.advance(3);
    }
    EXPECT_EQ(restarts.size(), 3u);
    queue.advance(60);  // the first ones age out
    watcher->handle(WakeEvent::captureError);
    EXPECT_EQ(restarts.size(), 4u);
}

TEST_F(Watcher, NothingRestartsDuringAPressButRunsWhenItEnds) {
    pressing = true;
    state.mode.set(AppMode::dictating);
    watcher->handle(WakeEvent::systemWoke);
    stale = true;
    watcher->defaultInputChanged();
    watcher->defaultInputChanged();
    queue.advance(1.0);
    EXPECT_TRUE(restarts.empty());

    pressing = false;
    state.mode.set(AppMode::transcribing);
    // The wake restart runs; the input check then restarts without the 2 s test.
    EXPECT_EQ(restarts, (std::vector<std::string>{"system woke", "input changed"}));
}

TEST_F(Watcher, DefaultInputChangeRestartsOnlyAStaleInput) {
    watcher->defaultInputChanged();
    queue.advance(1.0);
    EXPECT_TRUE(restarts.empty());
    stale = true;
    watcher->defaultInputChanged();
    queue.advance(0.9);
    EXPECT_TRUE(restarts.empty());
    queue.advance(0.1);
    EXPECT_EQ(restarts, std::vector<std::string>{"input changed"});
}

}  // namespace
}  // namespace velmarune
