#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/ByteCount.h"
#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Paths.h"
#include "foundation/Published.h"
#include "foundation/RunLoopMainQueue.h"
#include "foundation/SerialQueue.h"

namespace velmarune {
namespace {

TEST(SerialQueue, RunsInOrderAndSyncWaits) {
    SerialQueue queue("com.quorin.velmarune.test");
    queue.start();
    std::vector<int> seen;
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] { seen.push_back(i); });
    }
    queue.sync([&] { seen.push_back(100); });
    ASSERT_EQ(seen.size(), 101u);
    for (int i = 0; i <= 100; ++i) {
        EXPECT_EQ(seen[static_cast<size_t>(i)], i);
    }
    // A nested sync on the queue itself must not deadlock.
    bool nested = false;
    queue.sync([&] { queue.sync([&] { nested = true; }); });
    EXPECT_TRUE(nested);
    queue.stop();
}

TEST(SerialQueue, SyncDuringStopRunsItsWorkOnceAndReturns) {
    // A sync racing the worker's end used to queue work nobody would run and
    // wait for it forever.
    for (int round = 0; round < 200; ++round) {
        SerialQueue queue("com.quorin.velmarune.test");
        queue.start();
        queue.async([] { std::this_thread::yield(); });
        std::atomic<int> ran{0};
        std::atomic<bool> checkedCurrent{false};
        std::thread caller([&] {
            queue.sync([&] { ++ran; });
            checkedCurrent = !queue.isCurrent();
        });
        std::thread stopper([&] { queue.stop(); });
        queue.stop();  // two stops at once: one joins, neither crashes
        stopper.join();
        caller.join();
        ASSERT_EQ(ran, 1) << "round " << round;
        EXPECT_TRUE(checkedCurrent);
    }
}

TEST(Published, NotifiesOnlyOnChangeAndStopsWhenSubscriptionEnds) {
    Published<int> value{1};
    std::vector<int> seen;
    {
        auto subscription = value.subscribe([&](const int& v) { seen.push_back(v); });
        EXPECT_FALSE(value.set(1));
        EXPECT_TRUE(value.set(2));
        value.set(2);
        value.set(3);
    }
    value.set(4);
    EXPECT_EQ(seen, (std::vector<int>{2, 3}));

    // A subscription that outlives its value is harmless.
    Subscription late;
    {
        Published<int> shortLived{0};
        late = shortLived.subscribe([](const int&) {});
    }
    late.reset();
}

TEST(LogFormat, RendersTheSystemLogFormats) {
    EXPECT_EQ(renderLogFormat("PTT_ACTIVE: queued=%{public}ld, captureRunning=%{bool,public}d, "
                              "prerollFrames=%{public}ld",
                              {int64_t{2}, true, int64_t{8000}}),
              "PTT_ACTIVE: queued=2, captureRunning=true, prerollFrames=8000");
    EXPECT_EQ(renderLogFormat("duration=%{public}f", {1.5}), "duration=1.500000");
    EXPECT_EQ(
        renderLogFormat("within %{public}llu ms, %{public}s", {uint64_t{500}, std::string("x")}),
        "within 500 ms, x");
    EXPECT_EQ(renderLogFormat("100%% and %d", {int64_t{-3}}), "100% and -3");
    EXPECT_EQ(renderLogFormat("%{public}s and %{public}s", {std::string("one")}),
              "one and <missing>");
}

TEST(Paths, FollowsXdgAndIgnoresRelativeValues) {
    auto paths = Paths::fromEnvironment([](const char* name) -> std::optional<std::string> {
        std::string n = name;
        if (n == "HOME")
            return "/home/u";
        if (n == "XDG_CONFIG_HOME")
            return "/cfg";
        if (n == "XDG_DATA_HOME")
            return "relative/data";
        return std::nullopt;
    });
    EXPECT_EQ(paths.settingsFile(), "/cfg/velmarune/settings.json");
    EXPECT_EQ(paths.modelsFolder(), "/home/u/.local/share/Velmarune/Models");
    EXPECT_EQ(paths.logsFolder(), "/home/u/.local/state/Velmarune");
}

TEST(NotificationCenter, DeliversOnTheMainQueueByNameInOrder) {
    ManualMainQueue queue;
    NotificationCenter center(queue);
    std::vector<std::string> seen;
    auto a =
        center.observe("done", [&](const std::string& object) { seen.push_back("a:" + object); });
    auto b =
        center.observe("other", [&](const std::string& object) { seen.push_back("b:" + object); });

    std::thread([&] { center.post("done", "x"); }).join();
    center.post("other", "y");
    center.post("done", "z");
    EXPECT_TRUE(seen.empty());  // Nothing runs off the main queue.
    queue.runPending();
    EXPECT_EQ(seen, (std::vector<std::string>{"a:x", "b:y", "a:z"}));
}

TEST(NotificationCenter, AnEndedObservationMissesNotificationsAlreadyOnTheirWay) {
    ManualMainQueue queue;
    NotificationCenter center(queue);
    int first = 0;
    int second = 0;
    Subscription secondToken;
    // The first observer ends the second while a notification is delivered.
    auto firstToken = center.observe("n", [&](const std::string&) {
        ++first;
        secondToken.reset();
    });
    secondToken = center.observe("n", [&](const std::string&) { ++second; });
    center.post("n");
    queue.runPending();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);

    center.post("n");
    firstToken.reset();
    queue.runPending();
    EXPECT_EQ(first, 1);
}

TEST(NotificationCenter, ToleratesTokensAndPostsOutlivingIt) {
    ManualMainQueue queue;
    Subscription token;
    {
        NotificationCenter center(queue);
        token = center.observe("n", [](const std::string&) { FAIL() << "centre is gone"; });
        center.post("n");
    }
    queue.runPending();
    token.reset();
}

TEST(RunLoopMainQueue, RunsWorkFromOtherThreadsOnTheCallingThread) {
    RunLoopMainQueue queue;
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> order;
    bool onMain = true;
    queue.postAfter(0.05, [&] { order.push_back(2); });
    std::thread worker([&] {
        queue.post([&] {
            onMain = onMain && std::this_thread::get_id() == mainThread;
            order.push_back(1);
        });
    });
    EXPECT_TRUE(queue.runUntil([&] { return order.size() == 2; }, 5.0));
    worker.join();
    EXPECT_TRUE(onMain);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    // A condition that never holds ends at the timeout.
    EXPECT_FALSE(queue.runUntil([] { return false; }, 0.05));
}

TEST(ByteCount, UsesDecimalUnitsLikeTheFileManager) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0 bytes"},        {1, "1 byte"},           {999, "999 bytes"},
        {1000, "1 kB"},        {1500, "1.5 kB"},        {999499, "999 kB"},
        {999950, "1 MB"},      {574041195, "574 MB"},   {99950000, "100 MB"},
        {12345678, "12.3 MB"}, {1624555275, "1.6 GB"},  {3095033483, "3.1 GB"},
        {2000000000, "2 GB"},  {1000000000000, "1 TB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(formatByteCount(bytes), text) << bytes;
    }
}

}  // namespace
}  // namespace velmarune
