#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "platform/linux/ControlClient.h"
#include "platform/linux/SingleInstance.h"
#include "shell/PttCommand.h"
#include "support/PrivateSessionBus.h"
#include "support/Process.h"
#include "support/PumpedMainQueue.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

// `velmarune ptt` against the running instance's bus object, on a private session bus.
class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_bus.start(m_dir.path())); }

    TempDir m_dir{"velmarune-control"};
    testing::PrivateSessionBus m_bus;
    testing::PumpedMainQueue m_queue;
};

TEST_F(ControlTest, EachRequestReachesTheRunningInstanceOnce) {
    SingleInstance instance(m_dir / "run");
    ASSERT_TRUE(instance.claim().first);
    std::map<std::string, int> seen;
    auto count = [&](const char* name) { return [&seen, name] { ++seen[name]; }; };
    instance.listen(m_queue, {count("show"), count("press"), count("release"), count("toggle"),
                              count("pasteLast")});

    for (const char* word : {"press", "release", "toggle", "paste-last", "toggle"}) {
        EXPECT_EQ(runPttCommand({word}), 0) << word;
    }
    const std::map<std::string, int> expected{
        {"press", 1}, {"release", 1}, {"toggle", 2}, {"pasteLast", 1}};
    EXPECT_TRUE(m_queue.runUntil([&] { return seen == expected; }, 5.0));
    EXPECT_EQ(seen, expected);
}

TEST_F(ControlTest, UndeliveredRequestsSayWhyInPlainWords) {
    EXPECT_EQ(sendControlRequest("PushToTalkPress"),
              "Velmarune is not running (start it first, then try again)");
    EXPECT_EQ(runPttCommand({"press"}), 1);
    EXPECT_EQ(runPttCommand({"shout"}), 64);
    EXPECT_EQ(runPttCommand({}), 64);

    ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (m_dir / "no-bus").string());
    const auto failure = sendControlRequest("PushToTalkPress");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->rfind("no session bus (", 0), 0u) << *failure;
}

}  // namespace
}  // namespace velmarune
