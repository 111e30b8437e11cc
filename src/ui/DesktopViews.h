#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velmarune {

struct AppState;
class MainQueue;
class UserDefaults;
class DidntPastePresenter;
class HeadsUpDisplay;
class StatusMenu;
class StatusMenuModel;

// Every view the user meets while dictating: the tray item and its menu, the
// heads-up display, the queue panel and the didn't-paste panel. Built once at
// start-up on the main thread, after the application object.
class DesktopViews {
  public:
    struct Dependencies {
        MainQueue& queue;
        std::shared_ptr<AppState> state;
        UserDefaults& defaults;
        // The heads-up display's Copy: the text stays on the clipboard.
        std::function<void(const std::string& text)> copy;
        std::function<void()> quit;
    };

    explicit DesktopViews(Dependencies deps);
    ~DesktopViews();
    DesktopViews(const DesktopViews&) = delete;
    DesktopViews& operator=(const DesktopViews&) = delete;

    // Shows the tray icon and starts following the application state.
    void start();

    HeadsUpDisplay& hud();
    DidntPastePresenter& didntPastePresenter();
    StatusMenuModel& menuModel();
    StatusMenu& statusMenu();

  private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

}  // namespace velmarune
