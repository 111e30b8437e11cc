#include <gtest/gtest.h>

#include "foundation/Log.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "models/ModelDownloadManager.h"
#include "models/ModelLocator.h"
#include "support/CapturingLogSink.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using testing::TempDir;
using testing::writeFile;

// The error resolving `slot` raises; fails the test when it resolves.
ModelLocatorError resolveError(const ModelLocator& locator, ModelSlot slot) {
    try {
        locator.resolve(slot);
    } catch (const ModelLocatorError& e) {
        return e;
    }
    ADD_FAILURE() << "resolve should throw";
    return ModelLocatorError::slotUnassigned(slot);
}

class ModelLocatorTest : public ::testing::Test {
  protected:
    TempDir root;
    Paths paths = Paths::underRoot(root.path());
    MemoryUserDefaults defaults;
    ModelLocator locator{defaults, paths};
    const ModelEntry full = *ModelCatalog::standard().entry("ivrit-ai-large-v3");
    const ModelEntry turbo = *ModelCatalog::standard().entry("ivrit-ai-large-v3-turbo");
    const ModelEntry multi = *ModelCatalog::standard().entry("whisper-large-v3-turbo-q5");

    void install(const ModelEntry& e) { writeFile(locator.installPath(e), "model"); }
};

// A catalogue file is held to its size, and a mirror serves installed names.
TEST_F(ModelLocatorTest, CatalogueFilesHaveASizeAndAMirrorAddress) {
    EXPECT_EQ(locator.catalogueSize(locator.modelsFolder() / "ggml-large-v3-turbo-q5_0.bin"),
              574041195);
    EXPECT_EQ(locator.catalogueSize(root / "elsewhere/ggml-large-v3-turbo-q5_0.bin"), std::nullopt);

    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, multi.downloadURL},
        {"", multi.downloadURL},
        {"https://mirror.example/models",
         "https://mirror.example/models/ggml-large-v3-turbo-q5_0.bin"},
        {"http://127.0.0.1:8000/", "http://127.0.0.1:8000/ggml-large-v3-turbo-q5_0.bin"},
    };
    for (const auto& [mirror, url] : cases) {
        if (mirror) {
            defaults.setString(kModelMirrorKey, *mirror);
        }
        EXPECT_EQ(locator.downloadURL(multi), url);
    }
}

TEST_F(ModelLocatorTest, ASlotResolvesOnceItsFileExists) {
    // Absent and empty paths both mean unassigned.
    defaults.setString("hebrewModelPath", "");
    EXPECT_FALSE(locator.assignedPath(ModelSlot::hebrew));
    EXPECT_FALSE(locator.activeEntry(ModelSlot::hebrew));
    auto e = resolveError(locator, ModelSlot::hebrew);
    EXPECT_EQ(e.kind(), ModelLocatorError::Kind::slotUnassigned);
    EXPECT_STREQ(e.what(), "No model assigned to Hebrew slot.");
    EXPECT_EQ(resolveError(locator, ModelSlot::multilingual).kind(),
              ModelLocatorError::Kind::slotUnassigned);

    locator.assign(multi, ModelSlot::multilingual);
    EXPECT_EQ(defaults.stringValue("multilingualModelPath"), locator.installPath(multi).string());
    EXPECT_EQ(locator.slotsNeedingModels(),
              (std::vector<ModelSlot>{ModelSlot::hebrew, ModelSlot::multilingual}));
    e = resolveError(locator, ModelSlot::multilingual);
    EXPECT_EQ(e.kind(), ModelLocatorError::Kind::fileMissing);
    EXPECT_EQ(e.path(), locator.installPath(multi).string());
    EXPECT_EQ(std::string(e.what()),
              "Multilingual slot points to a missing file: " + locator.installPath(multi).string());

    install(multi);
    EXPECT_EQ(locator.resolve(ModelSlot::multilingual), locator.installPath(multi));
    EXPECT_EQ(locator.slotsNeedingModels(), (std::vector<ModelSlot>{ModelSlot::hebrew}));
}

TEST_F(ModelLocatorTest, TildePathsResolveButHaveNoActiveEntryAndStillNeedAModel) {
    // The model sits at the install path, and the slot names it through "~".
    Paths homeIsRoot = paths;
    homeIsRoot.home = root.path();
    ModelLocator tildeLocator(defaults, homeIsRoot);
    writeFile(tildeLocator.installPath(turbo), "model");
    defaults.setString("hebrewModelPath", "~/data/Velmarune/Models/ivrit-ai-large-v3-turbo.bin");

    EXPECT_EQ(tildeLocator.resolve(ModelSlot::hebrew), tildeLocator.installPath(turbo));
    EXPECT_FALSE(tildeLocator.activeEntry(ModelSlot::hebrew));
    EXPECT_FALSE(tildeLocator.isActive(turbo, ModelSlot::hebrew));
    EXPECT_EQ(tildeLocator.slotsNeedingModels().front(), ModelSlot::hebrew);

    defaults.setString("hebrewModelPath", "~/data/missing.bin");
    // The message shows the path that was really tested.
    EXPECT_EQ(resolveError(tildeLocator, ModelSlot::hebrew).path(),
              (root.path() / "data/missing.bin").string());
}

TEST(ModelLocatorTilde, ExpandsLikeTheShell) {
    const std::filesystem::path home = "/home/ada";
    const std::pair<std::string, std::string> cases[] = {
        {"~", "/home/ada"},
        {"~/m.bin", "/home/ada/m.bin"},
        {"~root/m.bin", "/root/m.bin"},
        {"~no-such-user-here/m.bin", "~no-such-user-here/m.bin"},
        {"/abs/~/m.bin", "/abs/~/m.bin"},
        {"rel/m.bin", "rel/m.bin"},
        {"", ""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(ModelLocator::expandTilde(input, home), expected) << input;
    }
    EXPECT_EQ(ModelLocator::expandTilde("~/m.bin", "/home/ada/"), "/home/ada/m.bin");
}

TEST_F(ModelLocatorTest, SeedingFillsOnlyUnassignedSlots) {
    // A user's choice survives even when its file is missing.
    defaults.setString("hebrewModelPath", "/elsewhere/missing.bin");
    locator.seedUnassignedSlots(full.id, multi.id);
    EXPECT_EQ(defaults.stringValue("hebrewModelPath"), "/elsewhere/missing.bin");
    EXPECT_EQ(locator.activeEntry(ModelSlot::multilingual)->id, multi.id);
    // Seeding makes no file appear: both slots still need their models.
    EXPECT_EQ(locator.slotsNeedingModels().size(), 2u);

    // An empty string counts as unassigned; an unknown ID does nothing.
    defaults.setString("hebrewModelPath", "");
    defaults.remove("multilingualModelPath");
    locator.seedUnassignedSlots("no-such-model", multi.id);
    EXPECT_FALSE(locator.assignedPath(ModelSlot::hebrew));
    locator.seedUnassignedSlots(turbo.id, "no-such-model");
    EXPECT_EQ(locator.activeEntry(ModelSlot::hebrew)->id, turbo.id);
    EXPECT_EQ(locator.activeEntry(ModelSlot::multilingual)->id, multi.id);
}

// Refusals happen before any transfer, so no server is needed: whatever the
// address, nothing may be fetched.
class ModelDownloadRefusalTest : public ModelLocatorTest {
  protected:
    ModelEntry entryAt(const std::string& url) {
        ModelEntry entry = multi;
        entry.downloadURL = url;
        return entry;
    }
    std::optional<DownloadState> state(const ModelEntry& entry) {
        auto it = manager.states().get().find(entry.id);
        return it == manager.states().get().end() ? std::nullopt : std::optional(it->second);
    }

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
