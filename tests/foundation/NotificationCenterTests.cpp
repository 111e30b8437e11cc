#include <gtest/gtest.h>

#include <thread>

#include "foundation/ByteCount.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoopMainQueue.h"

namespace velmarune {
namespace {

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
