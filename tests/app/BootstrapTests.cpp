#include <gtest/gtest.h>

#include "PipelineFixture.h"
#include "app/Bootstrap.h"
#include "models/ModelLocator.h"
#include "platform/LoginItem.h"
#include "platform/PermissionWalk.h"
#include "support/TempDir.h"

namespace velmarune::testing {
namespace {

class CountingLoginItem : public LoginItem {
  public:
    std::optional<std::string> registerLoginItem() override {
        ++registrations;
        return std::nullopt;
    }
    std::optional<std::string> unregisterLoginItem() override { return std::nullopt; }
    bool isRegistered() const override { return registrations > 0; }
    int registrations = 0;
};

// The pipeline fixture's clock, executor, settings, state and pipeline.
class BootstrapTest : public PipelineFixture {
  protected:
    void SetUp() override {
        PipelineFixture::SetUp();
        statusWatch = state->engineStatus.subscribe([this](const WhisperStatus& s) {
            static const char* names[] = {"needsModels", "failed", "notLoaded", "loading", "ready"};
            events.push_back(std::string("status ") + names[static_cast<int>(s.kind)]);
        });
        resetWatch = state->lastResetTime.subscribe(
            [this](const auto&) { events.push_back("lastResetTime"); });
    }

    std::shared_ptr<Bootstrap> makeBootstrap(std::weak_ptr<DictationPipeline> resets = {}) {
        Bootstrap::Dependencies deps;
        deps.mainQueue = &queue;
        deps.loader = &executor;
        deps.appState = state;
        deps.defaults = &defaults;
        deps.permissions = &permissions;
        deps.loginItem = &loginItem;
        deps.pipeline = resets;
        deps.slotsNeedingModels = [this] { return locator.slotsNeedingModels(); };
        deps.resolveSlot = [this](ModelSlot slot) { return locator.resolve(slot); };
        deps.loadEngine =
            [this](const std::filesystem::path& path) -> std::shared_ptr<WhisperEngine> {
            if (path.filename() == "corrupt.bin") {
                throw std::runtime_error("Failed to load model at " + path.string());
            }
            std::lock_guard lock(loadedMutex);
            loaded.push_back(path.filename().string());
            return nullptr;
        };
        deps.canonicalMultilingualPath = [this] {
            return dir / "models/ggml-large-v3-turbo-q5_0.bin";
        };
        auto bootstrap = std::make_shared<Bootstrap>(std::move(deps));
        bootstrap->setOnEngineReady([this] { ++engineReadyCalls; });
        return bootstrap;
    }

    std::filesystem::path model(const std::string& name) {
        auto path = dir / "models" / name;
        writeFile(path, "ggml");
        return path;
    }

    TempDir dir;
    ModelLocator locator{defaults, Paths::underRoot(dir.path())};
    ImmediatePermissionWalk permissions;
    CountingLoginItem loginItem;
    std::vector<std::string> events;
    Subscription statusWatch, resetWatch;
    std::mutex loadedMutex;
    std::vector<std::string> loaded;
    int engineReadyCalls = 0;
};

TEST_F(BootstrapTest, WithoutModelsStartUpEndsNeedingBothSlots) {
    auto bootstrap = makeBootstrap();
    bootstrap->start();
    finishDecoding();
    EXPECT_EQ(state->engineStatus.get(),
              WhisperStatus::needsModels({ModelSlot::hebrew, ModelSlot::multilingual}));
    EXPECT_TRUE(loaded.empty());
    EXPECT_EQ(engineReadyCalls, 0);
    EXPECT_EQ(loginItem.registrations, 1);

    // The second start is not a first run.
    auto again = makeBootstrap();
    again->start();
    finishDecoding();
    EXPECT_EQ(loginItem.registrations, 1);
}

TEST_F(BootstrapTest, BothModelsLoadAndArePublishedOnce) {
    defaults.setString("hebrewModelPath", model("he.bin").string());
    defaults.setString("multilingualModelPath", model("multi.bin").string());
    auto bootstrap = makeBootstrap();
    bootstrap->start();
    finishDecoding();
    EXPECT_EQ(state->engineStatus.get(), WhisperStatus::ready());
    std::sort(loaded.begin(), loaded.end());
    EXPECT_EQ(loaded, (std::vector<std::string>{"he.bin", "multi.bin"}));
    EXPECT_EQ(engineReadyCalls, 1);
    EXPECT_EQ(events, (std::vector<std::string>{"status loading", "status ready"}));
}

TEST_F(BootstrapTest, AnEngineThatFailsToLoadGivesTheFailedStatus) {
    defaults.setString("hebrewModelPath", model("corrupt.bin").string());
    defaults.setString("multilingualModelPath", model("multi.bin").string());
    auto bootstrap = makeBootstrap();
    bootstrap->loadEngines();
    finishDecoding();
    const std::string message = "Failed to load model at " + (dir / "models/corrupt.bin").string();
    EXPECT_EQ(state->engineStatus.get(), WhisperStatus::failed(message));
    EXPECT_EQ(engineReadyCalls, 0);
}

TEST_F(BootstrapTest, MigrationFillsOnlyUnsetSlotsOnce) {
    defaults.setString("customModelPath", model("legacy.bin").string());
    model("ggml-large-v3-turbo-q5_0.bin");
    defaults.setString("multilingualModelPath", "/somewhere/chosen.bin");
    defaults.setString("pttLanguage", "he");
    auto bootstrap = makeBootstrap();
    bootstrap->start();
    finishDecoding();
    EXPECT_EQ(defaults.stringValue("hebrewModelPath"), (dir / "models/legacy.bin").string());
    EXPECT_EQ(defaults.stringValue("multilingualModelPath"), "/somewhere/chosen.bin");
    EXPECT_EQ(defaults.stringValue("pttLanguage"), "auto");

    // Once migrated, a later change of language is left alone.
    defaults.setString("pttLanguage", "en");
    makeBootstrap()->start();
    finishDecoding();
    EXPECT_EQ(defaults.stringValue("pttLanguage"), "en");
}

TEST_F(BootstrapTest, ResetStopsEverythingReloadsAndRestartsCapture) {
    defaults.setString("hebrewModelPath", model("he.bin").string());
    defaults.setString("multilingualModelPath", model("multi.bin").string());
    auto modeWatch = state->mode.subscribe(
        [this](const AppMode& m) { events.push_back("mode " + appModeRawValue(m)); });

    auto bootstrap = makeBootstrap(pipeline);
    pipeline->press();
    events.clear();
    bootstrap->performReset();
    finishDecoding();
    EXPECT_EQ(events, (std::vector<std::string>{"mode idle", "status loading", "status ready",
                                                "lastResetTime"}));
    EXPECT_EQ(capture->stopCount(), 1);
    EXPECT_EQ(capture->restartCount(), 1);
}

TEST_F(BootstrapTest, AResetWithoutModelsFailsWithoutClaimingSuccess) {
    auto bootstrap = makeBootstrap();
    bootstrap->performReset();
    finishDecoding();
    EXPECT_TRUE(logSink->contains("performReset failed: models missing: Hebrew, Multilingual"));
    EXPECT_FALSE(state->lastResetTime.get().has_value());
}

}  // namespace
}  // namespace velmarune::testing
