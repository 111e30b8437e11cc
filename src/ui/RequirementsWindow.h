#pragma once

#include <QWidget>
#include <functional>

#include "foundation/Subscription.h"
#include "requirements/HardwareCheck.h"

class QVBoxLayout;

namespace velmarune {

// The first-run window: the requirements report, what it means, and the way
// on (Continue), out (Quit) or, when blocked, Check Again. Redraws whenever
// the model's report changes.
class RequirementsWindow : public QWidget {
  public:
    RequirementsWindow(HardwareCheckModel& model, std::function<void()> onContinue,
                       std::function<void()> onQuit);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void rebuild(const CheckReport& report);

    HardwareCheckModel& m_model;
    std::function<void()> m_onContinue;
    std::function<void()> m_onQuit;
    QVBoxLayout* m_layout = nullptr;
    QWidget* m_body = nullptr;
    Subscription m_subscription;
    bool m_continued = false;
};

}  // namespace velmarune
