#pragma once

#include <QWidget>
#include <functional>

#include "foundation/Subscription.h"
#include "ui/GeneralTabModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace velmarune {

// Launch at login, the dictation language, what happens to recent
// dictations, the reset, and where updates come from.
class GeneralTab : public QWidget {
  public:
    struct Dependencies {
        GeneralTabModel::Dependencies model;
        // The action that opens the software centre on our page, or an empty
        // one where no software centre is installed.
        std::function<std::function<void()>()> softwareCentre;
    };

    explicit GeneralTab(Dependencies deps, QWidget* parent = nullptr);

  protected:
    // Each time the tab is shown it reads everything again: the autostart
    // entry and the settings file may have been changed elsewhere.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void refresh();
    void refreshLastReset();

    Dependencies m_deps;
    GeneralTabModel m_model;
    QCheckBox* m_launchAtLogin = nullptr;
    QLabel* m_loginMessage = nullptr;
    QComboBox* m_language = nullptr;
    QLabel* m_lastReset = nullptr;
    QPushButton* m_checkForUpdates = nullptr;
    QTimer* m_clock = nullptr;  // keeps "Last reset" current while shown
    Subscription m_resetSubscription;
};

}  // namespace velmarune
