#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoopMainQueue.h"
#include "foundation/UserDefaults.h"
#include "integration/models/LoopbackHttpServer.h"
#include "models/ModelDownloadManager.h"
#include "support/CapturingLogSink.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class ModelDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }

    ModelEntry serve(const std::string& route, const std::string& body) {
        return server.serve("model-" + std::to_string(++m_served), body, route);
    }

    bool waitFor(const std::function<bool()>& condition, double seconds = 15.0) {
        return queue.runUntil(condition, seconds);
    }
    // Lets stray work arrive, so tests can check that nothing more happens.
    void settle() {
        queue.runUntil([] { return false; }, 0.3);
    }

    std::optional<DownloadState> state(const ModelEntry& entry) {
        const auto& states = manager.states().get();
        auto it = states.find(entry.id);
        return it == states.end() ? std::nullopt : std::optional(it->second);
    }
    bool hasFailed(const ModelEntry& entry) {
        auto s = state(entry);
        return s && s->error;
    }
    // Everything in the models folder except installed models.
    std::vector<std::string> leftovers() {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& item : fs::directory_iterator(locator.modelsFolder(), ec)) {
            if (item.path().extension() != ".bin") {
                names.push_back(item.path().filename().string());
            }
        }
        return names;
    }

    TempDir root;
    TempDir served;
    testing::LoopbackHttpServer server{served.path()};
    Paths paths = Paths::underRoot(root.path());
    MemoryUserDefaults defaults;
    ModelLocator locator{defaults, paths};
    RunLoopMainQueue queue;
    NotificationCenter center{queue};
    std::shared_ptr<CapturingLogSink> sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scopedSink{sink};
    // Tests may hold the verification up; by default it is the real digest.
    ModelDownloadManager::Digest digestHook;
    ModelDownloadManager manager{
        queue, center, locator, [](const fs::path&) { return std::nullopt; },
        [this](const fs::path& file, const std::function<bool()>& stop) {
            return digestHook ? digestHook(file, stop) : sha256HexOfFile(file, stop);
        }};
    std::vector<std::string> completed;
    Subscription completion =
        center.observe(kModelDownloadCompletedNotification,
                       [this](const std::string& id) { completed.push_back(id); });
    std::vector<DownloadState> seen;  // every published state of the entry under test
    std::string watched;
    Subscription watcher =
        manager.states().subscribe([this](const ModelDownloadManager::States& all) {
            if (auto it = all.find(watched); it != all.end()) {
                seen.push_back(it->second);
            }
        });

  private:
    int m_served = 0;
};

TEST_F(ModelDownloadTest, AVerifiedFileIsInstalledAndAnnouncedOnce) {
    // Without an announced length there is no progress until the file arrives.
    for (const std::string route : {"files", "redirect", "nolength"}) {
        SCOPED_TRACE(route);
        const std::string body(3'000'000, 'b');
        const ModelEntry entry = serve(route, body);
        watched = entry.id;
        seen.clear();
        completed.clear();

        // What an interrupted earlier run left behind goes.
        writeFile(ModelDownloadManager::partPath(locator.installPath(entry)), "stale");
        writeFile(locator.modelsFolder() / (entry.fileName + ".download-a1b2c3"), "stale");

        manager.start(entry);
        ASSERT_TRUE(waitFor([&] { return !completed.empty() || hasFailed(entry); }));
        settle();

        EXPECT_EQ(completed, std::vector<std::string>{entry.id});
        EXPECT_FALSE(state(entry));
        EXPECT_EQ(readFile(locator.installPath(entry)), body);
        EXPECT_TRUE(leftovers().empty());
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front(), (DownloadState{0.0, true, false, std::nullopt}));
        const double last = route == "nolength" ? 0.0 : 1.0;
        EXPECT_EQ(seen.back(), (DownloadState{last, true, true, std::nullopt}));
        for (size_t i = 1; i < seen.size(); ++i) {
            EXPECT_GE(seen[i].fractionCompleted, seen[i - 1].fractionCompleted);
        }
        EXPECT_EQ(
            sink->messages("ModelDownloadManager"),
            (std::vector<std::string>{"Download started: " + entry.id, "Installed: " + entry.id}));
        sink->clear();
    }
}

// A wrong body, an error page in its place, a connection that drops.
TEST_F(ModelDownloadTest, AFailedTransferKeepsThePreviousModelAndLeavesNoPartFile) {
    const std::string verification = "File verification failed. Try again.";
    const std::string brokeOff = "The download broke off before the whole file arrived. Try again.";
    const std::pair<std::string, std::string> cases[] = {
        {"files", verification},
        {"missing", verification + " The server answered HTTP 404."},
        {"drop", brokeOff},
    };
    for (const auto& [route, error] : cases) {
        SCOPED_TRACE(route);
        sink->clear();
        ModelEntry entry = serve(route == "missing" ? "files" : route, std::string(1'000'000, 'c'));
        std::string logged = "Network error: " + brokeOff;
        if (route == "files") {
            logged = "SHA-256 mismatch for " + entry.id + ": got " + entry.sha256.substr(0, 8);
            entry.sha256 = std::string(64, '0');  // what no body hashes to
        } else if (route == "missing") {
            logged = "SHA-256 mismatch for " + entry.id;
            entry.downloadURL = server.url("files/missing.bin");
        }
        writeFile(locator.installPath(entry), "the model that works");

        manager.start(entry);
        ASSERT_TRUE(waitFor([&] { return hasFailed(entry); }));
        settle();

        EXPECT_EQ(state(entry), (DownloadState{0.0, false, false, error}));
        EXPECT_EQ(readFile(locator.installPath(entry)), "the model that works");
        EXPECT_TRUE(leftovers().empty());
        EXPECT_TRUE(completed.empty());
        const auto messages = sink->messages("ModelDownloadManager");
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_TRUE(messages[1].starts_with(logged)) << messages[1];

        // A failure does not block a new start, which begins afresh at 0.
        manager.start(entry);
        EXPECT_EQ(state(entry), (DownloadState{0.0, true, false, std::nullopt}));
        manager.cancel(entry);
    }
}

TEST_F(ModelDownloadTest, ACancelWhileTransferringOrVerifyingInstallsNothing) {
    // The verification runs until it is told to stop (10 s at most).
    digestHook = [](const fs::path& file, const std::function<bool()>& stop) {
        for (int i = 0; i < 10'000 && !stop(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return sha256HexOfFile(file, stop);
    };
    for (const std::string route : {"slow", "files"}) {
        SCOPED_TRACE(route);
        const ModelEntry entry = serve(route, std::string(4'000'000, 'e'));
        writeFile(locator.installPath(entry), "the model that works");
        manager.start(entry);
        ASSERT_TRUE(waitFor([&] {
            return state(entry) && (route == "slow" ? state(entry)->fractionCompleted > 0.0
                                                    : state(entry)->isVerifying);
        }));
        if (route == "slow") {
            // A second click changes nothing: same transfer, same progress.
            const DownloadState running = *state(entry);
            manager.start(entry);
            EXPECT_EQ(state(entry), running);
            EXPECT_EQ(sink->count("Download started: " + entry.id), 1u);

            // Another start of the same model (here: another process) keeps
            // away from the running transfer's file.
            {
                MemoryUserDefaults otherDefaults;
                ModelLocator otherLocator(otherDefaults, paths);
                ManualMainQueue otherQueue;
                NotificationCenter otherCenter(otherQueue);
                ModelDownloadManager other(otherQueue, otherCenter, otherLocator,
                                           [](const fs::path&) { return std::nullopt; });
                const auto before = leftovers();
                ASSERT_EQ(before.size(), 1u);
                ModelEntry unreachable = entry;
                unreachable.downloadURL = "https://127.0.0.1:1/never";
                other.start(unreachable);
                EXPECT_EQ(leftovers().front(), before.front());
                other.cancel(unreachable);
            }
            sink->clear();  // what the other start logged before it was cancelled
        }

        manager.cancel(entry);
        EXPECT_FALSE(state(entry));
        // The worker removes its partial file when it stops.
        ASSERT_TRUE(waitFor([&] { return leftovers().empty(); }, 10.0));
        settle();
        EXPECT_FALSE(state(entry));
        EXPECT_TRUE(completed.empty());
        EXPECT_EQ(readFile(locator.installPath(entry)), "the model that works");
        // The cancellation the transfer reports is not an error.
        for (const std::string& line : sink->messages("ModelDownloadManager")) {
            EXPECT_EQ(line, "Download started: " + entry.id);
        }
    }
}

}  // namespace
}  // namespace velmarune
