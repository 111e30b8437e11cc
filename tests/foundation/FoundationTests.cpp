#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Published.h"
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

}  // namespace
}  // namespace velmarune
