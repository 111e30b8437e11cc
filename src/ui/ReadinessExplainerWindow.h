#pragma once

#include <QWidget>
#include <functional>

#include "system/ReadinessWalk.h"

class QLabel;

namespace velmarune {

// The readiness walk's explainer: one missing need at a time, with what the
// user can do, "Not Now" and "Continue". Closing it is "Not Now".
class ReadinessExplainerWindow : public QWidget, public ReadinessExplainer {
  public:
    ReadinessExplainerWindow();

    void present(const ReadinessExplanation& explanation, bool stillMissing,
                 std::function<void()> onContinue, std::function<void()> onNotNow) override;
    void dismiss() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* m_title = nullptr;
    QLabel* m_body = nullptr;
    QLabel* m_stillMissing = nullptr;
    std::function<void()> m_onContinue;
    std::function<void()> m_onNotNow;
    bool m_closingOurselves = false;
};

}  // namespace velmarune
