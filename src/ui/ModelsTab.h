#pragma once

#include <QWidget>
#include <map>
#include <vector>

#include "foundation/Subscription.h"
#include "ui/ModelsTabModel.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace velmarune {

class NotificationCenter;
class ModelRowWidget;
class UserDefaults;

// Downloads and chooses the two slots' models and transcribes the bundled
// sample to show that the engines work.
class ModelsTab : public QWidget {
  public:
    struct Dependencies {
        ModelsTabModel::Dependencies model;
        NotificationCenter& notifications;  // download completions
        UserDefaults& defaults;             // the engine switches
    };

    explicit ModelsTab(Dependencies deps, QWidget* parent = nullptr);
    ~ModelsTab() override;

    ModelsTabModel& model() { return m_model; }

  protected:
    // The slot keys may have been changed in the settings file meanwhile.
    void showEvent(QShowEvent* event) override;

  private:
    void refresh();
    void refreshEngineLine();
    void refreshTest();
    void refreshSwitches();

    Dependencies m_deps;
    ModelsTabModel m_model;
    QFrame* m_banner = nullptr;
    QLabel* m_bannerHeadline = nullptr;
    QLabel* m_bannerDetail = nullptr;
    QLabel* m_engineIcon = nullptr;
    QProgressBar* m_engineBusy = nullptr;
    QLabel* m_engineText = nullptr;
    std::map<ModelSlot, QLabel*> m_slotLines;
    std::map<ModelSlot, std::vector<ModelRowWidget*>> m_rows;
    QComboBox* m_testLanguage = nullptr;
    QPushButton* m_testButton = nullptr;
    QProgressBar* m_testBusy = nullptr;
    QLabel* m_testResult = nullptr;
    std::vector<QCheckBox*> m_switches;  // in the order of engineSwitches()
    std::vector<Subscription> m_subscriptions;
};

}  // namespace velmarune
