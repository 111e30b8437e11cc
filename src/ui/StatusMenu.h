#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "ui/Icons.h"
#include "ui/SettingsWindow.h"
#include "ui/StatusMenuModel.h"

class QAction;
class QMenu;

namespace velmarune {

// The tray item: the microphone in the mode's colour with the queue badge,
// and its menu. Tray hosts that speak StatusNotifierItem get it over D-Bus,
// the others as an XEmbed icon. Main thread only.
class StatusMenu : public QObject {
    Q_OBJECT
  public:
    StatusMenu(StatusMenuModel& model, std::function<void()> quit);
    ~StatusMenu() override;

    // "Settings…" opens the settings window on the tab it showed last,
    // "Download Models…" on the Models tab.
    void setOpenSettings(std::function<void(std::optional<SettingsPage>)> openSettings) {
        m_openSettings = std::move(openSettings);
    }
    // Shows the icon; says once in the log how to quit when no tray host runs.
    void start();

    QSystemTrayIcon& trayIcon() { return m_tray; }
    QMenu& menu() { return *m_menu; }

  private:
    void refreshStatus();
    void refreshMenu();
    void openSettings(std::optional<SettingsPage> page);

    StatusMenuModel& m_model;
    std::function<void()> m_quit;
    std::function<void(std::optional<SettingsPage>)> m_openSettings;
    QSystemTrayIcon m_tray;
    std::unique_ptr<QMenu> m_menu;
    QMenu* m_recentMenu = nullptr;
    QAction* m_hotkey = nullptr;
    QAction* m_modelsNeeded = nullptr;
    QAction* m_recentSeparator = nullptr;
    QAction* m_pasteLast = nullptr;
    QAction* m_recent = nullptr;
    QAction* m_clearRecent = nullptr;
    QAction* m_checkForUpdates = nullptr;
    TrayIcons m_icons;
};

}  // namespace velmarune
