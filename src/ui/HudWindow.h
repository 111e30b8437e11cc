#pragma once

#include <functional>

#include "ui/FloatingPanel.h"
#include "ui/HeadsUpDisplay.h"

class QPushButton;

namespace velmarune {

class TextBlock;

// Draws the heads-up display: the text in at most three lines of 320 px and,
// for transcripts, a Copy button.
class HudWindow : public FloatingPanel, public HeadsUpDisplay::View {
    Q_OBJECT
  public:
    static constexpr int kMaxLines = 3;
    static constexpr int kMaxTextWidthPx = 320;

    explicit HudWindow(PanelPlacer& placer);
    void setOnCopy(std::function<void()> onCopy) { m_onCopy = std::move(onCopy); }

    void present(const HeadsUpDisplay::Content& content, double fadeSeconds) override;
    void remove(double fadeSeconds) override;

  private:
    TextBlock* m_text;
    QPushButton* m_copy;
    std::function<void()> m_onCopy;
};

// A button drawn in the theme's accent colour, for the one action a panel
// offers. It never takes the keyboard focus.
QPushButton* makeProminentButton(const QString& title, QWidget* parent);

}  // namespace velmarune
