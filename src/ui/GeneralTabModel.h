#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmarune {

struct AppState;
class LoginItem;
class MainQueue;
class UserDefaults;

// The General tab's rules: launch at login, the dictation language, and the
// audio-and-engine reset. Main thread only.
class GeneralTabModel {
  public:
    struct Dependencies {
        AppState& state;
        UserDefaults& defaults;
        MainQueue& mainQueue;  // its clock dates "Last reset"
        LoginItem* loginItem;  // null: the switch stays off and does nothing
    };
    struct LanguageOption {
        const char* value;  // stored in "pttLanguage"
        const char* title;
    };

    static constexpr const char* kLanguageCaption =
        "Auto detects the language each time you dictate and routes to the matching model. "
        "Hebrew only and English only skip detection for a slightly faster response if you "
        "speak one language.";
    static constexpr const char* kRecentDictationsNote =
        "Your last few dictations are kept in memory for 10 minutes, so you can paste one that "
        "missed. They're deleted when your screen locks, your computer sleeps or you quit, and "
        "they're never saved to disk.";
    static constexpr const char* kResetCaption =
        "Use this if dictation stops working without restarting the app.";

    explicit GeneralTabModel(Dependencies deps) : m_deps(deps) {}

    // Reads whether the autostart entry is there and enabled; the tab calls
    // it each time it is shown, so a change made elsewhere shows.
    void refresh();
    bool launchAtLogin() const { return m_launchAtLogin; }
    // Shown under the switch: why the entry could not be written; empty
    // when there is nothing to say.
    const std::string& loginMessage() const { return m_loginMessage; }
    // Writes or removes the autostart entry. A failure to write leaves the
    // switch off and says why.
    void setLaunchAtLogin(bool on);

    static const std::vector<LanguageOption>& languages();
    // Index into languages() of the stored value; an unknown value reads as Auto.
    size_t languageIndex() const;
    // False when the settings file could not be saved.
    bool setLanguageIndex(size_t index);

    // "Last reset: 5 minutes ago", or nothing before the first reset.
    std::optional<std::string> lastResetText() const;
    void resetAudioAndEngine();

  private:
    Dependencies m_deps;
    bool m_launchAtLogin = false;
    std::string m_loginMessage;
};

}  // namespace velmarune
