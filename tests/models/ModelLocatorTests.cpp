#include <gtest/gtest.h>

#include "foundation/Log.h"
#include "foundation/UserDefaults.h"
#include "models/ModelLocator.h"
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
    locator.useMirror("https://other.example");
    EXPECT_EQ(locator.downloadURL(multi), "https://other.example/ggml-large-v3-turbo-q5_0.bin");
}

TEST_F(ModelLocatorTest, AbsentAndEmptyPathsBothMeanUnassigned) {
    for (bool storeEmpty : {false, true}) {
        SCOPED_TRACE(storeEmpty ? "empty string" : "absent key");
        if (storeEmpty) {
            defaults.setString("hebrewModelPath", "");
            defaults.setString("multilingualModelPath", "");
        }
        EXPECT_FALSE(locator.assignedPath(ModelSlot::hebrew));
        EXPECT_FALSE(locator.activeEntry(ModelSlot::hebrew));
        EXPECT_EQ(locator.slotsNeedingModels(),
                  (std::vector<ModelSlot>{ModelSlot::hebrew, ModelSlot::multilingual}));
        const auto e = resolveError(locator, ModelSlot::multilingual);
        EXPECT_EQ(e.kind(), ModelLocatorError::Kind::slotUnassigned);
        EXPECT_STREQ(e.what(), "No model assigned to Multilingual slot.");
    }
}

TEST_F(ModelLocatorTest, ResolvesAnExistingFileAndLogsIt) {
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    locator.assign(multi, ModelSlot::multilingual);
    EXPECT_EQ(defaults.stringValue("multilingualModelPath"), locator.installPath(multi).string());
    EXPECT_EQ(locator.slotsNeedingModels(),
              (std::vector<ModelSlot>{ModelSlot::hebrew, ModelSlot::multilingual}));

    const auto e = resolveError(locator, ModelSlot::multilingual);
    EXPECT_EQ(e.kind(), ModelLocatorError::Kind::fileMissing);
    EXPECT_EQ(e.path(), locator.installPath(multi).string());
    EXPECT_EQ(std::string(e.what()),
              "Multilingual slot points to a missing file: " + locator.installPath(multi).string());

    install(multi);
    EXPECT_EQ(locator.resolve(ModelSlot::multilingual), locator.installPath(multi));
    EXPECT_EQ(locator.slotsNeedingModels(), (std::vector<ModelSlot>{ModelSlot::hebrew}));
    EXPECT_EQ(sink->messages("ModelLocator"),
              (std::vector<std::string>{"Resolved multilingual → " +
                                        locator.installPath(multi).string()}));
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

TEST_F(ModelLocatorTest, ActiveEntryFollowsTheLatestAssignment) {
    locator.assign(full, ModelSlot::hebrew);
    EXPECT_TRUE(locator.isActive(full, ModelSlot::hebrew));
    locator.assign(turbo, ModelSlot::hebrew);
    EXPECT_FALSE(locator.isActive(full, ModelSlot::hebrew));
    EXPECT_TRUE(locator.isActive(turbo, ModelSlot::hebrew));
    EXPECT_EQ(locator.activeEntry(ModelSlot::hebrew)->id, turbo.id);
    // The slot does not check language: the multilingual slot has no active
    // entry of its own meanwhile.
    EXPECT_FALSE(locator.activeEntry(ModelSlot::multilingual));

    defaults.setString("hebrewModelPath", "/elsewhere/custom.bin");
    EXPECT_FALSE(locator.activeEntry(ModelSlot::hebrew));
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

}  // namespace
}  // namespace velmarune
