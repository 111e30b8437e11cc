#include "ui/GeneralTabModel.h"

#include "app/AppState.h"
#include "foundation/MainQueue.h"
#include "foundation/RelativeTime.h"
#include "foundation/UserDefaults.h"
#include "platform/LoginItem.h"

namespace velmarune {

void GeneralTabModel::refresh() {
    m_launchAtLogin = m_deps.loginItem && m_deps.loginItem->isRegistered();
}

void GeneralTabModel::setLaunchAtLogin(bool on) {
    if (!m_deps.loginItem) {
        return;
    }
    m_loginMessage.clear();
    if (on) {
        if (auto error = m_deps.loginItem->registerLoginItem()) {
            // The backend's description is a bare system error ("Not a directory").
            m_loginMessage =
                "Velmarune could not be added to the programs started at login: " + *error + ".";
        }
    } else {
        // A failure is only logged: the user asked for less, not more.
        m_deps.loginItem->unregisterLoginItem();
    }
    // The entry as it is now, whatever the call above managed.
    m_launchAtLogin = m_deps.loginItem->isRegistered();
}

const std::vector<GeneralTabModel::LanguageOption>& GeneralTabModel::languages() {
    static const std::vector<LanguageOption> options = {
        {"auto", "Auto"}, {"he", "Hebrew only"}, {"en", "English only"}};
    return options;
}

size_t GeneralTabModel::languageIndex() const {
    const std::string stored = m_deps.defaults.stringValue("pttLanguage").value_or("auto");
    const auto& options = languages();
    for (size_t i = 0; i < options.size(); ++i) {
        if (stored == options[i].value) {
            return i;
        }
    }
    return 0;
}

bool GeneralTabModel::setLanguageIndex(size_t index) {
    if (index >= languages().size()) {
        return false;
    }
    return m_deps.defaults.setString("pttLanguage", languages()[index].value);
}

std::optional<std::string> GeneralTabModel::lastResetText() const {
    const auto& last = m_deps.state.lastResetTime.get();
    if (!last) {
        return std::nullopt;
    }
    return "Last reset: " + relativeTimeAgo(secondsBetween(*last, m_deps.mainQueue.now()));
}

void GeneralTabModel::resetAudioAndEngine() {
    if (m_deps.state.resetEngine) {
        m_deps.state.resetEngine();
    }
}

}  // namespace velmarune
