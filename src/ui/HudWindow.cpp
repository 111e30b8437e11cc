#include "ui/HudWindow.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "ui/TextBlock.h"

namespace velmarune {

QPushButton* makeProminentButton(const QString& title, QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setFocusPolicy(Qt::NoFocus);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::HighlightedText));
    button->setPalette(palette);
    QFont font = button->font();
    font.setWeight(QFont::Medium);
    button->setFont(font);
    return button;
}

HudWindow::HudWindow(PanelPlacer& placer) : FloatingPanel(placer, PanelSlot::hud, true) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 16, 12);
    row->setSpacing(12);
    row->setSizeConstraint(QLayout::SetFixedSize);
    m_text = new TextBlock(this);
    row->addWidget(m_text, 0, Qt::AlignVCenter);
    m_copy = makeProminentButton(QStringLiteral("Copy"), this);
    row->addWidget(m_copy, 0, Qt::AlignVCenter);
    connect(m_copy, &QPushButton::clicked, this, [this] {
        if (m_onCopy) {
            m_onCopy();
        }
    });
}

void HudWindow::present(const HeadsUpDisplay::Content& content, double fadeSeconds) {
    const QString text = QString::fromStdString(content.text);
    m_text->setText(text, kMaxLines, kMaxTextWidthPx);
    m_copy->setVisible(content.showsCopy);
    // The title names the window for screen readers and window lists.
    setWindowTitle(text.left(200));
    showPanel(fadeSeconds);
}

void HudWindow::remove(double fadeSeconds) {
    hidePanel(fadeSeconds);
}

}  // namespace velmarune
