#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
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

// Instances in one process behave as separate processes would: each opens its
// own lock file description and its own bus connection. `velmarune ptt`
// reaches the running instance's bus object on the same private bus.
class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_bus.start(m_dir.path())); }

    std::filesystem::path runtime() const { return m_dir / "run"; }

    TempDir m_dir{"velmarune-instance"};
    testing::PrivateSessionBus m_bus;
    testing::PumpedMainQueue m_queue;
};

TEST_F(SingleInstanceTest, ALaterStartAsksTheFirstToShowItselfAndGivesWay) {
    auto first = std::make_unique<SingleInstance>(runtime());
    ASSERT_TRUE(first->claim().first);
    int shown = 0;
    SingleInstance::Requests requests;
    requests.show = [&] { ++shown; };
    first->listen(m_queue, requests);

    // The same runtime folder (the lock answers), and another one (the bus
    // name answers): both give way, and each asks the first to show itself.
    for (const auto& folder : {runtime(), m_dir.path() / "other-run"}) {
        const int before = shown;
        SingleInstance second(folder);
        const auto claim = second.claim();
        EXPECT_FALSE(claim.first) << folder;
        EXPECT_EQ(claim.message,
                  "velmarune: Velmarune is already running; it was asked to show "
                  "itself.");
        EXPECT_TRUE(m_queue.runUntil([&] { return shown == before + 1; }, 5.0)) << folder;
    }

    // Once the first is gone, the next start is the first again.
    first.reset();
    SingleInstance next(runtime());
    EXPECT_TRUE(next.claim().first);
}

TEST_F(SingleInstanceTest, WithoutABusTheLockFileAloneKeepsOneInstance) {
    ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (m_dir / "no-bus").string());
    auto first = std::make_unique<SingleInstance>(runtime() / "nested");
    ASSERT_TRUE(first->claim().first);
    first->listen(m_queue, {});  // nothing to listen on: harmless
    EXPECT_EQ(
        std::filesystem::status(runtime() / "nested").permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_all);

    SingleInstance second(runtime() / "nested");
    const auto claim = second.claim();
    EXPECT_FALSE(claim.first);
    EXPECT_EQ(claim.message,
              "velmarune: Velmarune is already running (no session bus to ask it to show "
              "itself).");
    first.reset();
    EXPECT_TRUE(SingleInstance(runtime() / "nested").claim().first);
}

TEST_F(SingleInstanceTest, TheFirstInstanceOutlivesItsBus) {
    SingleInstance first(runtime());
    ASSERT_TRUE(first.claim().first);
    first.listen(m_queue, {});
    m_bus.stop();
    m_queue.runFor(0.2);

    // The lock still answers for it.
    SingleInstance second(runtime());
    EXPECT_FALSE(second.claim().first);
    first.stop();
}

TEST_F(SingleInstanceTest, EachRequestReachesTheRunningInstanceOnce) {
    SingleInstance instance(runtime());
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

TEST_F(SingleInstanceTest, UndeliveredRequestsSayWhyInPlainWords) {
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
