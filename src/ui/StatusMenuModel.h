#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppMode.h"
#include "foundation/Subscription.h"
#include "hotkeys/PasteShortcut.h"
#include "keys/ModifierCombo.h"

namespace velmarune {

struct AppState;
class RecentDictations;
class PasteLastDictation;

// The tray item's rules: its icon, badge and accessible label from the
// application mode and queue, and the menu's items, texts and enabled states.
// It forwards commands and keeps no state beyond what is attached. Main
// thread only.
class StatusMenuModel {
  public:
    // What the tray icon shows.
    struct TrayStatus {
        AppMode mode = AppMode::idle;
        int64_t badgeCount = 0;       // 0: no badge
        std::string accessibleLabel;  // also the tooltip
        bool operator==(const TrayStatus&) const = default;
    };
    struct RecentItem {
        std::optional<int64_t> entryID;  // none: the disabled "None"
        std::string title;
        bool operator==(const RecentItem&) const = default;
    };
    // The menu, as shown when it opens.
    struct Menu {
        std::string hotkeyReminder;
        bool modelsNeededVisible = false;
        bool recentGroupVisible = false;
        std::string pasteLastTitle;  // with the shortcut after a tab, as menus align it
        bool pasteLastEnabled = false;
        std::vector<RecentItem> recent;
        bool clearRecentEnabled = false;
        bool checkForUpdatesVisible = false;
    };

    struct Dependencies {
        AppState& state;
        std::function<ModifierCombo()> dictationChord;
        std::function<std::optional<PasteShortcut>()> pasteShortcut;
    };

    explicit StatusMenuModel(Dependencies deps) : m_deps(std::move(deps)) {}

    // Calls `changed` whenever the tray status or the models warning may have
    // changed (mode, queue count, engine status).
    void start(std::function<void()> changed);

    void attachRecent(std::shared_ptr<RecentDictations> store,
                      std::shared_ptr<PasteLastDictation> pasteLast);
    void attachUpdater(std::function<void()> checkForUpdates);

    TrayStatus trayStatus() const;
    bool modelsNeeded() const;
    // Reads the stored shortcuts: built when the menu opens.
    Menu menu() const;

    // The menu's commands; each does nothing when its target is not attached.
    void pasteLast();
    void pasteRecent(int64_t entryID);
    void clearRecent();
    void checkForUpdates();

  private:
    bool hasRecentEntries() const;

    Dependencies m_deps;
    std::weak_ptr<RecentDictations> m_recent;
    std::shared_ptr<PasteLastDictation> m_pasteLast;
    std::function<void()> m_checkForUpdates;
    std::vector<Subscription> m_subscriptions;
};

}  // namespace velmarune
