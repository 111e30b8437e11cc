#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QTabWidget;
class QWidget;

namespace velmarune {

struct AppState;
class Executor;
class LoginItem;
class MainQueue;
class ModelDownloadManager;
class ModelLocator;
class NotificationCenter;
class UserDefaults;

// The tabs, in the order the window shows them.
enum class SettingsPage { general, hotkeys, models, audio, about };

// The one settings window of the process. Built the first time it is shown
// and kept when closed, so opening it again brings back the same window with
// the tab the user left. Main thread only.
class SettingsWindow {
  public:
    // What the tabs reach the rest of the application through; each tab takes
    // its own part.
    struct Dependencies {
        std::shared_ptr<AppState> state;
        UserDefaults& defaults;
        MainQueue& mainQueue;
        // General
        LoginItem* loginItem;  // null: no launch at login
        // The action that opens the software centre, or an empty one.
        std::function<std::function<void()>()> softwareCentre;
        // Models
        ModelLocator& locator;
        ModelDownloadManager& downloads;
        NotificationCenter& notifications;
        Executor& testTranscriptionWorker;
        // The files installed with the application: the test sample, the licences.
        std::filesystem::path resources;
        // Build the Hotkeys and Audio tabs on the application's backends;
        // unset, those tabs stay empty.
        std::function<QWidget*()> hotkeysTab = {};
        std::function<QWidget*()> audioTab = {};
    };

    explicit SettingsWindow(Dependencies deps);
    ~SettingsWindow();
    SettingsWindow(const SettingsWindow&) = delete;
    SettingsWindow& operator=(const SettingsWindow&) = delete;

    // Shows the window (building it the first time) on `page`, or on the tab
    // it showed last, and brings it in front of other applications' windows.
    void show(std::optional<SettingsPage> page = std::nullopt);

    // The window once built, else null; for tests and benchmarks.
    QWidget* window() const;
    QTabWidget* tabs() const;

  private:
    void build();

    Dependencies m_deps;
    std::unique_ptr<QWidget> m_window;
    QTabWidget* m_tabs = nullptr;
};

}  // namespace velmarune
