#pragma once

#include <functional>
#include <vector>

#include "delivery/DidntPastePresenter.h"
#include "ui/FloatingPanel.h"

class QVBoxLayout;

namespace velmarune {

// Draws the "Didn't paste" panel: a header with a close button, then one row
// per transcript with its text (selectable, scrolling when long) and a Paste
// button. Rebuilt from scratch for every change of the list.
class DidntPasteWindow : public FloatingPanel, public DidntPastePresenter {
    Q_OBJECT
  public:
    static constexpr int kContentWidthPx = 360;
    static constexpr int kPaddingPx = 14;
    static constexpr int kRowHeightPx = 70;         // with more than one row
    static constexpr int kSingleRowHeightPx = 110;  // the only row

    explicit DidntPasteWindow(PanelPlacer& placer);

    void show(const std::vector<DidntPastePrompt>& prompts, std::function<void(size_t index)> paste,
              std::function<void()> close) override;
    void hide() override;

  private:
    QWidget* makeRow(const DidntPastePrompt& prompt, int maxTextHeightPx, size_t index);

    QWidget* m_content = nullptr;
    QVBoxLayout* m_layout;
    std::function<void(size_t)> m_paste;
    std::function<void()> m_close;
};

}  // namespace velmarune
