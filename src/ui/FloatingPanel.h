#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <array>

#include "ui/PanelStack.h"

class QPropertyAnimation;
class QScreen;

namespace velmarune {

class FloatingPanel;

// Keeps the shown floating panels stacked at the top-right of the primary
// screen's work area, and moves them when screens or panels change.
class PanelPlacer : public QObject {
    Q_OBJECT
  public:
    PanelPlacer();
    void add(PanelSlot slot, FloatingPanel* panel);
    void relayout();

  private:
    void watchPrimaryScreen();

    std::array<QPointer<FloatingPanel>, kPanelSlotCount> m_panels;
    QPointer<QScreen> m_screen;
};

// A small window above the others on every workspace that never takes the
// keyboard focus, not even when one of its buttons is clicked: the window
// manager does not manage it and Qt never activates it.
class FloatingPanel : public QWidget {
    Q_OBJECT
  public:
    FloatingPanel(PanelPlacer& placer, PanelSlot slot, bool takesClicks);

    // Sizes the panel to its content, places it and shows it, fading in over
    // `fadeSeconds` (0: at once).
    void showPanel(double fadeSeconds);
    void hidePanel(double fadeSeconds);
    // Shown, or about to be: its place in the stack is taken.
    bool wanted() const { return m_wanted; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    PanelPlacer& m_placer;
    QPropertyAnimation* m_fade;
    bool m_wanted = false;
};

}  // namespace velmarune
