#include <gtest/gtest.h>

#include "app/AppState.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Paths.h"
#include "foundation/Resources.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "models/ModelDownloadManager.h"
#include "models/ModelLocator.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "support/ScriptedRecognizer.h"
#include "support/TempDir.h"
#include "ui/Acknowledgements.h"
#include "ui/GeneralTabModel.h"
#include "ui/ModelsTabModel.h"

namespace velmarune {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;
using Action = ModelsTabModel::RowAction;

ModelEntry entry(const std::string& id, int64_t bytes, const std::string& tag) {
    return {id,
            id + " name",
            id + " description",
            "https://example.invalid/" + id,
            std::string(64, '0'),
            bytes,
            tag,
            id + ".bin"};
}

// The Models tab over a catalogue of two Hebrew models and one multilingual.
class ModelsTabTest : public ::testing::Test {
  protected:
    void install(const std::string& id) {
        const ModelEntry e = *locator.catalog().entry(id);
        fs::create_directories(locator.modelsFolder());
        writeFile(locator.installPath(e), "model");
    }
    void choose(const std::string& id, ModelSlot slot) {
        install(id);
        ASSERT_TRUE(locator.assign(*locator.catalog().entry(id), slot));
    }
    ModelsTabModel::Row row(ModelSlot slot, const std::string& id) {
        for (const auto& r : model.rows(slot)) {
            if (r.entry.id == id) {
                return r;
            }
        }
        ADD_FAILURE() << "no row " << id;
        return {};
    }

    TempDir dir;
    Paths paths = Paths::underRoot(dir.path());
    MemoryUserDefaults defaults;
    ManualMainQueue queue;
    NotificationCenter notifications{queue};
    ModelLocator locator{defaults, paths,
                         ModelCatalog({entry("he-large", 3'100'000'000, "he"),
                                       entry("he-turbo", 1'600'000'000, "he"),
                                       entry("multi", 574'000'000, "multilingual")})};
    ModelDownloadManager downloads{queue, notifications, locator};
    AppState state;
    ManualExecutor worker;
    fs::path sample = dir / "zib_en.wav";
    ModelsTabModel model{{state, locator, downloads, queue, worker, sample}};
};

TEST_F(ModelsTabTest, BannerNamesTheMissingSlotsTheirSizeAndTheirSetAsChoices) {
    struct Case {
        bool hebrew, multilingual;
        const char* headline;
        const char* detail;
    };
    const Case cases[] = {
        {false, false, "Download a Hebrew model and the Multilingual model to start dictating.",
         "About 3.7 GB, downloaded once. Then choose Set as Hebrew or Set as Multilingual."},
        {true, false, "Download the Multilingual model to start dictating.",
         "About 574 MB, downloaded once. Then choose Set as Multilingual."},
        {false, true, "Download a Hebrew model to start dictating.",
         "About 3.1 GB, downloaded once. Then choose Set as Hebrew."},
        {true, true, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        defaults.remove("hebrewModelPath");
        defaults.remove("multilingualModelPath");
        if (c.hebrew) {
            choose("he-turbo", ModelSlot::hebrew);
        }
        if (c.multilingual) {
            choose("multi", ModelSlot::multilingual);
        }
        const auto banner = model.banner();
        ASSERT_EQ(banner.has_value(), c.headline != nullptr) << c.hebrew << c.multilingual;
        if (banner) {
            EXPECT_EQ(banner->headline, c.headline);
            EXPECT_EQ(banner->detail, c.detail);
        }
    }
    // A slot whose file went away needs its model again.
    fs::remove(locator.installPath(*locator.catalog().entry("multi")));
    ASSERT_TRUE(model.banner());
    EXPECT_EQ(model.banner()->headline, "Download the Multilingual model to start dictating.");
}

TEST_F(ModelsTabTest, RowRightHandSideFollowsTheDownloadStateAndTheFiles) {
    choose("he-large", ModelSlot::hebrew);
    install("he-turbo");
    struct Case {
        const char* id;
        std::optional<DownloadState> state;
        Action action;
        const char* text;
        std::optional<std::string> error;
        bool bold;
    };
    const Case cases[] = {
        {"he-large", std::nullopt, Action::active, "", std::nullopt, true},
        {"he-turbo", std::nullopt, Action::setAs, "Set as Hebrew", std::nullopt, false},
        {"he-turbo", DownloadState{0.424, true, false, {}}, Action::downloading, "42%", {}, false},
        {"he-large", DownloadState{1.0, true, true, {}}, Action::verifying, "Verifying…", {}, true},
        {"multi", std::nullopt, Action::download, "Download 574 MB", std::nullopt, false},
        {"multi", DownloadState{0, false, false, "File verification failed. Try again."},
         Action::download, "Download 574 MB", "File verification failed. Try again.", false},
    };
    for (const Case& c : cases) {
        ModelDownloadManager::States states;
        if (c.state) {
            states[c.id] = *c.state;
        }
        downloads.states().set(states);
        const ModelSlot slot =
            std::string(c.id) == "multi" ? ModelSlot::multilingual : ModelSlot::hebrew;
        const auto r = row(slot, c.id);
        EXPECT_EQ(r.action, c.action) << c.id << " " << c.text;
        EXPECT_EQ(r.actionText, c.text) << c.id;
        EXPECT_EQ(r.error, c.error) << c.id;
        EXPECT_EQ(r.active, c.bold) << c.id;
    }
    EXPECT_EQ(model.slotLine(ModelSlot::hebrew).fileName, "he-large.bin");
    EXPECT_EQ(model.slotLine(ModelSlot::hebrew).size, "(5 bytes)");
    EXPECT_FALSE(model.slotLine(ModelSlot::multilingual).chosen);
    EXPECT_EQ(model.slotLine(ModelSlot::multilingual).fileName, "Not chosen");
}

TEST_F(ModelsTabTest, TestTranscriptionUsesTheSlotsEngineOrSaysWhatIsMissing) {
    auto english = std::make_shared<testing::ScriptedRecognizer>("english");
    state.multilingualEngine = english;
    using Language = ModelsTabModel::TestLanguage;
    int changed = 0;
    model.transcribeSample(Language::hebrew, [&] { ++changed; });
    EXPECT_EQ(model.testResult().text, "Error: Hebrew engine not loaded.");
    model.transcribeSample(Language::english, [&] { ++changed; });
    EXPECT_EQ(model.testResult().text, "Error: bundled zib_en.wav not found in app resources.");
    EXPECT_EQ(changed, 2);
    EXPECT_FALSE(model.testResult().running);
    EXPECT_EQ(worker.pendingCount(), 0U);

    // With both, the sample goes to the slot's engine off the main thread.
    fs::copy_file(resourcesFolder() / "zib_en.wav", sample, fs::copy_options::overwrite_existing);
    model.transcribeSample(Language::english, [] {});
    EXPECT_TRUE(model.testResult().running);
    worker.runAll();
    queue.runPending();
    EXPECT_EQ(model.testResult().text, "english");
    ASSERT_EQ(english->calls.size(), 1u);
    EXPECT_EQ(english->calls[0].language, "en");
}

TEST(GeneralTabModelTest, LastResetReadsAsRelativeTime) {
    ManualMainQueue queue;
    AppState state;
    MemoryUserDefaults defaults;
    GeneralTabModel model({state, defaults, queue, nullptr});
    EXPECT_EQ(model.lastResetText(), std::nullopt);
    const std::pair<double, const char*> cases[] = {
        {0, "Last reset: now"},
        {42, "Last reset: 42 seconds ago"},
        {5 * 60 + 59, "Last reset: 5 minutes ago"},
        {3600, "Last reset: 1 hour ago"},
        {25 * 3600, "Last reset: yesterday"},
        {8 * 86400, "Last reset: last week"},
        {-30, "Last reset: now"},  // a clock set back
    };
    for (const auto& [secondsAgo, text] : cases) {
        state.lastResetTime.set(addSeconds(queue.now(), -secondsAgo));
        EXPECT_EQ(model.lastResetText(), text) << secondsAgo;
    }
}

TEST(GeneralTabModelTest, LaunchAtLoginFollowsTheAutostartEntryAndShowsWhyItFailed) {
    TempDir dir;
    ManualMainQueue queue;
    AppState state;
    MemoryUserDefaults defaults;
    // The autostart folder's place is taken by a file: the entry cannot be written.
    writeFile(dir / "autostart", "");
    XdgAutostartLoginItem blocked(dir / "autostart", "/usr/bin/velmarune", true);
    GeneralTabModel failing({state, defaults, queue, &blocked});
    failing.setLaunchAtLogin(true);
    EXPECT_FALSE(failing.launchAtLogin());
    EXPECT_EQ(failing.loginMessage(),
              "Velmarune could not be added to the programs started at login: Not a directory.");

    XdgAutostartLoginItem item(dir / "config" / "autostart", "/usr/bin/velmarune", true);
    GeneralTabModel model({state, defaults, queue, &item});
    model.setLaunchAtLogin(true);
    EXPECT_TRUE(model.launchAtLogin());
    EXPECT_EQ(model.loginMessage(), "");
    EXPECT_TRUE(fs::exists(item.entryPath()));
    model.setLaunchAtLogin(false);
    EXPECT_FALSE(model.launchAtLogin());
    // Switched on again elsewhere (another copy of the settings, a desktop tool).
    ASSERT_EQ(item.registerLoginItem(), std::nullopt);
    model.refresh();
    EXPECT_TRUE(model.launchAtLogin());
}

// Every acknowledged component has its notice and licence among the
// resources that are installed with the application.
TEST(AcknowledgementsTest, EveryComponentHasItsLicenceText) {
    for (const Acknowledgement& item : acknowledgements()) {
        const std::string text = acknowledgementText(item, resourcesFolder() / "licenses");
        EXPECT_GT(text.size(), 300U) << item.id;
        if (!item.sharedLicenceFile.empty()) {
            EXPECT_TRUE(
                fs::is_regular_file(resourcesFolder() / "licenses" / item.sharedLicenceFile))
                << item.id;
        }
    }
    EXPECT_EQ(acknowledgementText({"missing", "", "", ""}, resourcesFolder() / "licenses"), "");
}

}  // namespace
}  // namespace velmarune
