#include <gtest/gtest.h>

#include "app/AppState.h"
#include "foundation/ManualMainQueue.h"
#include "ui/QueueStatus.h"

namespace velmarune {
namespace {

struct QueueRig {
    ManualMainQueue queue;
    std::vector<std::string> shown;  // "-" for hidden
    std::shared_ptr<QueueStatus> status = std::make_shared<QueueStatus>(
        queue,
        [this](const std::optional<std::string>& text) { shown.push_back(text.value_or("-")); });
};

TEST(QueueStatus, TextForEachStateOfTheQueue) {
    struct Case {
        bool dictating;
        int64_t queued;
        bool waiting;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {false, 0, false, std::nullopt},
        {false, 2, false, std::nullopt},  // a queue that may drain quickly
        {true, 3, false, "Recording · Transcribing 3"},
        {true, 3, true, "Recording · Transcribing 3"},  // recording wins
        {true, 0, false, std::nullopt},
        {false, 1, true, "Ready. Pastes when you release the keys."},
    };
    for (const auto& c : cases) {
        QueueRig rig;
        rig.status->update(c.dictating, c.queued, c.waiting);
        EXPECT_EQ(rig.status->text(), c.text) << c.dictating << " " << c.queued << " " << c.waiting;
    }
}

TEST(QueueStatus, ASlowQueueShowsAfterItsQuietTimeAndOnlyWhenTheTextChanges) {
    QueueRig rig;
    // One that drains quickly never shows, and a new one measures afresh.
    rig.status->update(false, 1, false);
    rig.queue.advance(1.0);
    rig.status->update(false, 0, false);
    rig.queue.advance(5.0);
    EXPECT_TRUE(rig.shown.empty());

    rig.status->update(false, 1, false);
    rig.queue.advance(1.5);
    rig.queue.advance(0.009);
    EXPECT_TRUE(rig.shown.empty());
    rig.queue.advance(0.002);  // 1.511 s
    EXPECT_EQ(rig.shown, std::vector<std::string>{"Transcribing 1"});

    // Same values again: no rebuild.
    rig.status->update(false, 1, false);
    rig.queue.advance(5.0);
    EXPECT_EQ(rig.shown.size(), 1u);

    rig.status->update(false, 2, false);
    rig.status->update(false, 0, false);
    rig.queue.advance(5.0);
    EXPECT_EQ(rig.shown, (std::vector<std::string>{"Transcribing 1", "Transcribing 2", "-"}));
}

TEST(QueueStatus, FollowsTheApplicationStateOnALaterTurn) {
    QueueRig rig;
    AppState state;
    rig.status->start(state);
    state.queuedDictations.set(2);
    state.mode.set(AppMode::dictating);
    EXPECT_TRUE(rig.shown.empty());  // not inside the writer's update
    rig.queue.runPending();
    EXPECT_EQ(rig.shown, std::vector<std::string>{"Recording · Transcribing 2"});

    rig.status.reset();  // a panel gone before its pending work runs
    state.mode.set(AppMode::transcribing);
    rig.queue.advance(2.0);
    EXPECT_EQ(rig.shown.size(), 1u);
}

}  // namespace
}  // namespace velmarune
