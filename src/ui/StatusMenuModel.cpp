#include "ui/StatusMenuModel.h"

#include "app/AppState.h"
#include "delivery/PasteLastDictation.h"
#include "delivery/RecentDictations.h"

namespace velmarune {

void StatusMenuModel::start(std::function<void()> changed) {
    auto notify = [changed = std::move(changed)] { changed(); };
    m_subscriptions.push_back(m_deps.state.mode.subscribe([notify](const AppMode&) { notify(); }));
    m_subscriptions.push_back(
        m_deps.state.queuedDictations.subscribe([notify](const int64_t&) { notify(); }));
    m_subscriptions.push_back(
        m_deps.state.engineStatus.subscribe([notify](const WhisperStatus&) { notify(); }));
}

void StatusMenuModel::attachRecent(std::shared_ptr<RecentDictations> store,
                                   std::shared_ptr<PasteLastDictation> pasteLast) {
    m_recent = store;
    m_pasteLast = std::move(pasteLast);
}

void StatusMenuModel::attachUpdater(std::function<void()> checkForUpdates) {
    m_checkForUpdates = std::move(checkForUpdates);
}

StatusMenuModel::TrayStatus StatusMenuModel::trayStatus() const {
    TrayStatus status;
    status.mode = m_deps.state.mode.get();
    const int64_t queued = m_deps.state.queuedDictations.get();
    status.badgeCount = queued >= 1 ? queued : 0;
    status.accessibleLabel = "Velmarune";
    if (status.mode == AppMode::dictating) {
        status.accessibleLabel += ", recording";
    }
    if (queued >= 1) {
        status.accessibleLabel += ", transcribing " + std::to_string(queued);
    }
    return status;
}

StatusMenuModel::Menu StatusMenuModel::menu() const {
    Menu menu;
    const ModifierCombo chord = m_deps.dictationChord
                                    ? m_deps.dictationChord()
                                    : ModifierCombo{kModifierControl | kModifierShift};
    menu.hotkeyReminder = "Hold " + chord.symbols() + " to dictate";
    menu.modelsNeededVisible = modelsNeeded();
    menu.checkForUpdatesVisible = static_cast<bool>(m_checkForUpdates);

    auto store = m_recent.lock();
    menu.recentGroupVisible = store != nullptr;
    menu.pasteLastTitle = "Paste Last Dictation";
    if (auto shortcut = m_deps.pasteShortcut ? m_deps.pasteShortcut() : std::nullopt) {
        menu.pasteLastTitle += "\t" + shortcut->display();
    }
    menu.pasteLastEnabled = menu.clearRecentEnabled = hasRecentEntries();
    if (store) {
        for (const auto& entry : store->entries()) {
            menu.recent.push_back({entry.id, RecentDictations::menuTitle(entry.text)});
        }
    }
    if (menu.recent.empty()) {
        menu.recent.push_back({std::nullopt, "None"});
    }
    return menu;
}

bool StatusMenuModel::modelsNeeded() const {
    return m_deps.state.engineStatus.get().kind == WhisperStatus::Kind::needsModels;
}

bool StatusMenuModel::hasRecentEntries() const {
    auto store = m_recent.lock();
    return store && !store->entries().empty();
}

void StatusMenuModel::pasteLast() {
    if (m_pasteLast && !m_recent.expired()) {
        m_pasteLast->paste(std::nullopt);
    }
}

void StatusMenuModel::pasteRecent(int64_t entryID) {
    if (m_pasteLast && !m_recent.expired()) {
        m_pasteLast->paste(entryID);
    }
}

void StatusMenuModel::clearRecent() {
    if (auto store = m_recent.lock()) {
        store->clear("menu");
    }
}

void StatusMenuModel::checkForUpdates() {
    if (m_checkForUpdates) {
        m_checkForUpdates();
    }
}

}  // namespace velmarune
