#pragma once

#include <QObject>
#include <optional>
#include <string>

namespace velmarune {

// Whether the desktop wants animations, where that can be read: GNOME's
// "enable-animations" and KDE's animation speed (a factor of 0 is "instant").
// Unknown means animate.
class DesktopAnimations : public QObject {
    Q_OBJECT
  public:
    // Reads KDE's file now and asks GNOME's settings in the background.
    void refresh();
    bool enabled() const { return m_gnome.value_or(true) && m_kde.value_or(true); }

    // `gsettings get org.gnome.desktop.interface enable-animations` output.
    static std::optional<bool> parseGnome(const std::string& output);
    // The text of kdeglobals: [KDE] AnimationDurationFactor.
    static std::optional<bool> parseKde(const std::string& kdeglobals);

  private:
    std::optional<bool> m_gnome;
    std::optional<bool> m_kde;
};

}  // namespace velmarune
