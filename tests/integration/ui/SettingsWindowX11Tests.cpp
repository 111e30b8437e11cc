#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QWidget>
#include <chrono>
#include <thread>

#include "QtPump.h"
#include "app/AppState.h"
#include "delivery/X11TestClients.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Paths.h"
#include "foundation/Resources.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "integration/models/LoopbackHttpServer.h"
#include "models/ModelDownloadManager.h"
#include "models/ModelLocator.h"
#include "models/Sha256.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "recognition/WhisperEngine.h"
#include "shell/QtMainQueue.h"
#include "support/TempDir.h"
#include "support/TestModels.h"
#include "support/XRig.h"
#include "ui/AboutTab.h"
#include "ui/SettingsWindow.h"

namespace velmarune::testing {
namespace {

namespace fs = std::filesystem;

int shownSettingsWindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        count += widget->isVisible() && widget->windowTitle() == "Velmarune Settings";
    }
    return count;
}

// A button of the shown tab whose text starts with `prefix`, or null.
QPushButton* button(QWidget* tab, const QString& prefix) {
    for (QPushButton* candidate : tab->findChildren<QPushButton*>()) {
        if (candidate->isVisible() && candidate->text().startsWith(prefix)) {
            return candidate;
        }
    }
    return nullptr;
}

bool shows(QWidget* tab, const QString& text) {
    for (QLabel* label : tab->findChildren<QLabel*>()) {
        if (label->isVisible() && label->text().contains(text)) {
            return true;
        }
    }
    return false;
}

// The settings window on a private X server with a window manager, its
// models served by a loopback HTTP server.
class SettingsWindowX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok());
        ASSERT_TRUE(server.running());
        app = std::make_unique<QApplication>(argc, argv);
        queue = std::make_unique<QtMainQueue>(app.get());
        notifications = std::make_unique<NotificationCenter>(*queue);
        locator = std::make_unique<ModelLocator>(defaults, paths, catalog());
        downloads = std::make_unique<ModelDownloadManager>(*queue, *notifications, *locator);
        worker.start();
        settings = std::make_unique<SettingsWindow>(SettingsWindow::Dependencies{
            state, defaults, *queue, &loginItem, [] { return std::function<void()>(); }, *locator,
            *downloads, *notifications, worker, resourcesFolder()});
    }
    void TearDown() override {
        settings.reset();
        worker.stop();
        downloads.reset();
        queue.reset();
        app.reset();
    }

    // Hebrew models on the server beside the one the slot uses now: a good
    // one, one whose digest the catalogue gets wrong and one it sends slowly;
    // and the multilingual model.
    ModelCatalog catalog() {
        auto entry = [&](const std::string& id, TestModel model, const std::string& tag,
                         const std::string& route, bool wrongDigest = false) {
            fs::copy_file(testModelPath(model), served / (id + ".bin"));
            std::string digest = sha256HexOfFile(served / (id + ".bin"));
            if (wrongDigest) {
                digest.replace(0, 4, "0000");
            }
            return ModelEntry{id,
                              id,
                              "A test model",
                              server.url(route + "/" + id + ".bin"),
                              digest,
                              static_cast<int64_t>(fs::file_size(served / (id + ".bin"))),
                              tag,
                              id + ".bin"};
        };
        return ModelCatalog({entry("he-old", TestModel::silent, "he", "files"),
                             entry("he-new", TestModel::hebrew, "he", "files"),
                             entry("he-damaged", TestModel::hebrew, "he", "files", true),
                             entry("he-slow", TestModel::hebrew, "he", "slow"),
                             entry("multi", TestModel::english, "multilingual", "files")});
    }
    void install(const std::string& id, ModelSlot slot) {
        const ModelEntry entry = *locator->catalog().entry(id);
        fs::create_directories(locator->modelsFolder());
        fs::copy_file(served / entry.fileName, locator->installPath(entry));
        ASSERT_TRUE(locator->assign(entry, slot));
    }

    bool settingsActive(double seconds) {
        return pumpUntil(
            [&] {
                return settings->window() && QApplication::activeWindow() == settings->window();
            },
            seconds);
    }

    XRig x;
    TempDir root{"velmarune-settings"};
    fs::path served = [this] {
        fs::create_directories(root / "served");
        return root / "served";
    }();
    LoopbackHttpServer server{served};
    Paths paths = Paths::underRoot(root.path());
    int argc = 1;
    char name[16] = "velmarune";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QtMainQueue> queue;
    std::unique_ptr<NotificationCenter> notifications;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    FileUserDefaults defaults{paths.settingsFile()};
    XdgAutostartLoginItem loginItem{paths.autostartFolder(), "/usr/bin/velmarune", true};
    std::unique_ptr<ModelLocator> locator;
    std::unique_ptr<ModelDownloadManager> downloads;
    SerialQueue worker{"settings-test-transcription"};
    std::unique_ptr<SettingsWindow> settings;
};

TEST_F(SettingsWindowX11, OpeningAgainBringsTheSameWindowBackInFront) {
    EXPECT_EQ(settings->window(), nullptr) << "built before it was asked for";
    settings->show();
    ASSERT_TRUE(settingsActive(5.0));
    QWidget* first = settings->window();
    QStringList labels;
    for (int i = 0; i < settings->tabs()->count(); ++i) {
        labels << settings->tabs()->tabText(i);
        EXPECT_FALSE(settings->tabs()->tabIcon(i).isNull()) << i;
    }
    EXPECT_EQ(labels.join(","), "General,Hotkeys,Models,Audio,About");
    EXPECT_EQ(settings->tabs()->currentIndex(), 0);

    // Another application's window takes the front; opening Settings again
    // (as "Download Models…" does) raises the same window on the Models tab.
    PasteTarget other("OtherApp");
    ASSERT_TRUE(other.waitUntilActive(5.0));
    settings->show(SettingsPage::models);
    EXPECT_TRUE(settingsActive(5.0)) << "the window stayed behind the other application";
    EXPECT_EQ(settings->window(), first);
    EXPECT_EQ(shownSettingsWindows(), 1);
    EXPECT_EQ(settings->tabs()->currentIndex(), 2);

    // Closed and opened again: the same window, on the tab the user left.
    first->close();
    ASSERT_TRUE(pumpUntil([&] { return !first->isVisible(); }, 5.0));
    settings->show();
    EXPECT_TRUE(settingsActive(5.0));
    EXPECT_EQ(settings->window(), first);
    EXPECT_EQ(settings->tabs()->currentIndex(), 2);
    EXPECT_EQ(shownSettingsWindows(), 1);
}

// The Models tab end to end: a failed download leaves the slot's model in
// place, a good one reaches "Set as Hebrew", and choosing it reloads the
// engines, which the test transcription then shows.
TEST_F(SettingsWindowX11, ModelDownloadedThroughTheModelsTabIsUsedAfterSetAs) {
    install("he-old", ModelSlot::hebrew);
    install("multi", ModelSlot::multilingual);
    int reloads = 0;
    state->reloadEngine = [&] {
        ++reloads;
        state->hebrewEngine = WhisperEngine::create(locator->resolve(ModelSlot::hebrew));
        state->engineStatus.set(WhisperStatus::ready());
    };
    state->reloadEngine();
    state->multilingualEngine = WhisperEngine::create(locator->resolve(ModelSlot::multilingual));
    settings->show(SettingsPage::models);
    QWidget* tab = settings->tabs()->currentWidget();
    ASSERT_TRUE(pumpUntil([&] { return tab->isVisible(); }, 5.0));
    EXPECT_TRUE(shows(tab, "he-old.bin"));
    EXPECT_TRUE(shows(tab, "Both ready"));

    // A download that fails its check: the row says why and offers it again,
    // and the slot keeps its model.
    const int before = reloads;
    QWidget* damaged = tab->findChild<QWidget*>("he-damaged");
    button(damaged, "Download")->click();
    auto error = [&]() -> std::optional<std::string> {
        const auto& states = downloads->states().get();
        const auto it = states.find("he-damaged");
        return it == states.end() ? std::nullopt : it->second.error;
    };
    ASSERT_TRUE(pumpUntil([&] { return error().has_value(); }, 20.0));
    EXPECT_TRUE(shows(damaged, QString::fromStdString(*error())));
    EXPECT_TRUE(button(damaged, "Download"));
    EXPECT_EQ(locator->activeEntry(ModelSlot::hebrew)->id, "he-old");
    EXPECT_TRUE(fs::exists(locator->installPath(*locator->catalog().entry("he-old"))));

    // A slow one shows its progress until it is cancelled.
    QWidget* slow = tab->findChild<QWidget*>("he-slow");
    button(slow, "Download")->click();
    ASSERT_TRUE(pumpUntil([&] { return shows(slow, "%") && button(slow, "Cancel"); }, 10.0));
    button(slow, "Cancel")->click();
    EXPECT_TRUE(pumpUntil([&] { return button(slow, "Download") != nullptr; }, 5.0));

    QWidget* fresh = tab->findChild<QWidget*>("he-new");
    button(fresh, "Download")->click();
    ASSERT_TRUE(pumpUntil([&] { return button(fresh, "Set as Hebrew") != nullptr; }, 20.0))
        << "the download did not finish";
    EXPECT_EQ(reloads, before) << "downloading alone changed the engines";
    button(tab, "Set as Hebrew")->click();
    EXPECT_EQ(reloads, before + 1);
    EXPECT_EQ(locator->activeEntry(ModelSlot::hebrew)->id, "he-new");
    EXPECT_TRUE(shows(tab, "he-new.bin"));
    // The old model transcribed nothing; the test sample now goes to the new one.
    tab->findChild<QComboBox*>()->setCurrentIndex(1);
    button(tab, "Transcribe test sample")->click();
    ASSERT_TRUE(
        pumpUntil([&] { return shows(tab, "Result: ") && button(tab, "Transcribe "); }, 60.0));
    EXPECT_TRUE(shows(tab, kHebrewTestTranscript)) << "the test did not use the new model";
}

// Each tab as the user meets it, saved for a look, and what only the widgets do.
TEST_F(SettingsWindowX11, EveryTabDrawsItsContent) {
    install("multi", ModelSlot::multilingual);
    state->engineStatus.set(WhisperStatus::loading());
    state->lastResetTime.set(queue->now() - std::chrono::minutes(5));
    defaults.setString("pttLanguage", "he");
    const char* names[] = {"general", "hotkeys", "models", "audio", "about"};
    settings->show(SettingsPage::general);
    for (int i = 0; i < 5; ++i) {
        settings->tabs()->setCurrentIndex(i);
        screenshot(QStringLiteral("ui-settings-%1-tab").arg(names[i]));
    }
    // The settings file changed by hand while the window is open: the next
    // time the tab is shown it reads the new value.
    writeFile(paths.settingsFile(), R"({"pttLanguage": "en"})");
    settings->tabs()->setCurrentIndex(0);
    QWidget* general = settings->tabs()->widget(0);
    EXPECT_TRUE(shows(general, "Last reset: 5 minutes ago"));
    // The autostart entry cannot be written: the switch stays off and says why.
    writeFile(paths.autostartFolder(), "");
    general->findChild<QCheckBox*>()->click();
    EXPECT_FALSE(general->findChild<QCheckBox*>()->isChecked());
    EXPECT_TRUE(shows(general, "could not be added to the programs started at login"));
    EXPECT_EQ(general->findChild<QComboBox*>()->currentText(), "English only");

    auto* about = static_cast<AboutTab*>(settings->tabs()->widget(4));
    about->showAcknowledgements();
    ASSERT_TRUE(pumpUntil([&] { return about->acknowledgementsWindow()->isVisible(); }, 5.0));
    auto* text = about->acknowledgementsWindow()->findChild<QPlainTextEdit*>();
    EXPECT_TRUE(text->toPlainText().contains("Permission is hereby granted"));
}

}  // namespace
}  // namespace velmarune::testing
