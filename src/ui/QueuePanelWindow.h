#pragma once

#include <optional>
#include <string>

#include "ui/FloatingPanel.h"

class QLabel;

namespace velmarune {

// Draws the queue panel: a waveform and the queue's text. Clicks go through
// it to the window below.
class QueuePanelWindow : public FloatingPanel {
    Q_OBJECT
  public:
    explicit QueuePanelWindow(PanelPlacer& placer);
    // None hides the panel.
    void showText(const std::optional<std::string>& text);

  private:
    QLabel* m_icon;
    QLabel* m_text;
};

}  // namespace velmarune
