#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "ui/HotkeysTabModel.h"

class QLabel;
class QPushButton;
class QFrame;

namespace velmarune {

// The Hotkeys settings tab: the dictation chord and the Paste Last
// Dictation shortcut, each recorded from key presses in this window while it
// holds the keyboard. The rules live in HotkeysTabModel.
class HotkeysTab : public QWidget {
  public:
    struct Dependencies {
        HotkeysTabModel::Dependencies model;
        // Takes the keyboard for `widget` (the desktop's own shortcuts then
        // act on nothing); false when the display refuses. Tests replace it.
        std::function<bool(QWidget* widget)> grabKeyboard;
    };

    explicit HotkeysTab(Dependencies deps, QWidget* parent = nullptr);
    ~HotkeysTab() override;

    HotkeysTabModel& model() { return m_model; }

    // The real grab: an X keyboard grab on the window, whose answer Qt's
    // QWidget::grabKeyboard does not report.
    static bool grabKeyboardOfWindow(QWidget* widget);

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void record(HotkeysTabModel::Recording what);
    void refresh();

    HotkeysTabModel m_model;
    std::function<bool(QWidget*)> m_grab;
    bool m_grabbed = false;

    QLabel* m_dictationValue = nullptr;
    QLabel* m_dictationHint = nullptr;
    QLabel* m_dictationMessage = nullptr;
    QLabel* m_dictationAdvice = nullptr;
    QPushButton* m_recordDictation = nullptr;
    QLabel* m_pasteValue = nullptr;
    QLabel* m_pasteHint = nullptr;
    QLabel* m_pasteMessage = nullptr;
    QLabel* m_pasteAdvice = nullptr;
    QPushButton* m_recordPaste = nullptr;
    QFrame* m_warning = nullptr;
    QLabel* m_warningText = nullptr;
};

}  // namespace velmarune
