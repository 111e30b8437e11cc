#include "ui/StatusMenu.h"

#include <QAction>
#include <QCursor>
#include <QMenu>

#include "foundation/Log.h"
#include "ui/Icons.h"

namespace velmarune {

StatusMenu::StatusMenu(StatusMenuModel& model, std::function<void()> quit)
    : m_model(model), m_quit(std::move(quit)), m_menu(std::make_unique<QMenu>()) {
    QMenu& menu = *m_menu;
    m_hotkey = menu.addAction(QString());
    m_hotkey->setEnabled(false);
    m_modelsNeeded = menu.addAction(warningIcon(), QStringLiteral("Download Models…"));
    m_modelsNeeded->setVisible(false);
    connect(m_modelsNeeded, &QAction::triggered, this,
            [this] { openSettings(SettingsPage::models); });

    m_recentSeparator = menu.addSeparator();
    m_pasteLast = menu.addAction(QStringLiteral("Paste Last Dictation"));
    connect(m_pasteLast, &QAction::triggered, this, [this] { m_model.pasteLast(); });
    m_recentMenu = menu.addMenu(QStringLiteral("Recent Dictations"));
    m_recent = m_recentMenu->menuAction();
    m_clearRecent = menu.addAction(QStringLiteral("Clear Recent Dictations"));
    connect(m_clearRecent, &QAction::triggered, this, [this] { m_model.clearRecent(); });

    menu.addSeparator();
    QAction* settings = menu.addAction(QStringLiteral("Settings…"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setShortcutVisibleInContextMenu(true);
    connect(settings, &QAction::triggered, this, [this] { openSettings(std::nullopt); });
    m_checkForUpdates = menu.addAction(QStringLiteral("Check for Updates…"));
    connect(m_checkForUpdates, &QAction::triggered, this, [this] { m_model.checkForUpdates(); });
    menu.addSeparator();
    QAction* quitAction = menu.addAction(QStringLiteral("Quit Velmarune"));
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setShortcutVisibleInContextMenu(true);
    connect(quitAction, &QAction::triggered, this, [this] {
        if (m_quit) {
            m_quit();
        }
    });

    connect(&menu, &QMenu::aboutToShow, this, &StatusMenu::refreshMenu);
    // XEmbed hosts pass a left click on to the application: open the menu
    // there too, as a menu-bar item does.
    connect(&m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    m_menu->popup(QCursor::pos());
                }
            });
    m_tray.setContextMenu(&menu);
    refreshMenu();
    refreshStatus();
}

StatusMenu::~StatusMenu() {
    m_tray.setContextMenu(nullptr);
}

void StatusMenu::start() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Logger("StatusMenu")
            .info("no system tray on this desktop; quit with `pkill -TERM velmarune`");
    }
    m_model.start([this] { refreshStatus(); });
    m_tray.show();
    m_icons.prepare(this);
}

void StatusMenu::refreshStatus() {
    const auto status = m_model.trayStatus();
    m_tray.setIcon(m_icons.icon(status.mode, status.badgeCount));
    m_tray.setToolTip(QString::fromStdString(status.accessibleLabel));
    m_modelsNeeded->setVisible(m_model.modelsNeeded());
}

void StatusMenu::refreshMenu() {
    const auto menu = m_model.menu();
    m_hotkey->setText(QString::fromStdString(menu.hotkeyReminder));
    m_modelsNeeded->setVisible(menu.modelsNeededVisible);
    for (QAction* action : {m_recentSeparator, m_pasteLast, m_recent, m_clearRecent}) {
        action->setVisible(menu.recentGroupVisible);
    }
    m_pasteLast->setText(QString::fromStdString(menu.pasteLastTitle));
    m_pasteLast->setEnabled(menu.pasteLastEnabled);
    m_clearRecent->setEnabled(menu.clearRecentEnabled);
    m_checkForUpdates->setVisible(menu.checkForUpdatesVisible);

    m_recentMenu->clear();
    for (const auto& item : menu.recent) {
        QAction* action = m_recentMenu->addAction(QString::fromStdString(item.title));
        if (!item.entryID) {
            action->setEnabled(false);
            continue;
        }
        const int64_t id = *item.entryID;
        connect(action, &QAction::triggered, this, [this, id] { m_model.pasteRecent(id); });
    }
}

void StatusMenu::openSettings(std::optional<SettingsPage> page) {
    if (m_openSettings) {
        m_openSettings(page);
    }
}

}  // namespace velmarune
