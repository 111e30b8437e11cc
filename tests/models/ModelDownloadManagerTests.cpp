#include <gtest/gtest.h>

#include "foundation/ManualMainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "models/ModelDownloadManager.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using testing::TempDir;
using testing::writeFile;

// Refusals happen before any transfer, so no server is needed: whatever the
// address, nothing may be fetched.
class ModelDownloadRefusalTest : public ::testing::Test {
  protected:
    ModelEntry entryAt(const std::string& url) {
        ModelEntry entry = *ModelCatalog::standard().entry("whisper-large-v3-turbo-q5");
        entry.downloadURL = url;
        return entry;
    }
    std::optional<DownloadState> state(const ModelEntry& entry) {
        auto it = manager.states().get().find(entry.id);
        return it == manager.states().get().end() ? std::nullopt : std::optional(it->second);
    }

    TempDir root;
    Paths paths = Paths::underRoot(root.path());
    MemoryUserDefaults defaults;
    ModelLocator locator{defaults, paths};
    ManualMainQueue queue;
    NotificationCenter center{queue};
    std::shared_ptr<CapturingLogSink> sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scopedSink{sink};
    std::optional<int64_t> reportedFreeSpace;
    ModelDownloadManager manager{
        queue, center, locator, [this](const std::filesystem::path&) { return reportedFreeSpace; }};
};

TEST_F(ModelDownloadRefusalTest, InsecureOrInvalidAddressesAreNeverFetched) {
    const std::pair<std::string, std::string> cases[] = {
        {"http://huggingface.co/model.bin",
         "Refusing to download over an insecure connection: http://huggingface.co/model.bin"},
        {"ftp://127.0.0.1/model.bin",
         "Refusing to download over an insecure connection: ftp://127.0.0.1/model.bin"},
        {"http://127.0.0.1.example.com/m.bin",
         "Refusing to download over an insecure connection: http://127.0.0.1.example.com/m.bin"},
        {"not a url", "Invalid download address: not a url"},
    };
    for (const auto& [url, error] : cases) {
        const ModelEntry entry = entryAt(url);
        manager.start(entry);
        EXPECT_EQ(state(entry), (DownloadState{0.0, false, false, error})) << url;
    }
    EXPECT_TRUE(sink->messages("ModelDownloadManager").empty());
}

TEST_F(ModelDownloadRefusalTest, ReportedFreeSpaceBelowTheSizeRefusesToStart) {
    ModelEntry entry = entryAt("https://127.0.0.1:1/model.bin");
    entry.fileSizeBytes = 3095033483;
    reportedFreeSpace = entry.fileSizeBytes - 1;
    manager.start(entry);
    EXPECT_EQ(state(entry),
              (DownloadState{0.0, false, false, "Not enough disk space. Need 3.1 GB."}));
    EXPECT_TRUE(sink->messages("ModelDownloadManager").empty());

    reportedFreeSpace = entry.fileSizeBytes;
    manager.start(entry);
    EXPECT_TRUE(state(entry)->isActive);
    manager.cancel(entry);
}

TEST_F(ModelDownloadRefusalTest, AModelsFolderThatCannotBeCreatedFailsTheStart) {
    // A plain file where the application-support folder should be.
    writeFile(paths.applicationSupport(), "not a folder");
    const ModelEntry entry = entryAt("https://127.0.0.1:1/model.bin");
    manager.start(entry);
    ASSERT_TRUE(state(entry) && state(entry)->error);
    EXPECT_EQ(*state(entry)->error, "Could not create the folder " +
                                        locator.modelsFolder().string() + ": Not a directory");
    EXPECT_FALSE(state(entry)->isActive);
}

}  // namespace
}  // namespace velmarune
