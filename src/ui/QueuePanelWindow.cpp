#include "ui/QueuePanelWindow.h"

#include <QHBoxLayout>
#include <QLabel>

#include "ui/Icons.h"

namespace velmarune {

QueuePanelWindow::QueuePanelWindow(PanelPlacer& placer)
    : FloatingPanel(placer, PanelSlot::queue, false) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 7, 12, 7);
    row->setSpacing(6);
    row->setSizeConstraint(QLayout::SetFixedSize);
    m_icon = new QLabel(this);
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    m_icon->setPixmap(
        symbolicIcon(QStringLiteral("waveform-symbolic.svg"), secondary, 16).pixmap(16, 16));
    row->addWidget(m_icon);
    m_text = new QLabel(this);
    QFont callout = m_text->font();
    callout.setPointSizeF(callout.pointSizeF() * 0.93);
    m_text->setFont(callout);
    row->addWidget(m_text);
}

void QueuePanelWindow::showText(const std::optional<std::string>& text) {
    if (!text) {
        hidePanel(0);
        return;
    }
    m_text->setText(QString::fromStdString(*text));
    setWindowTitle(m_text->text());
    showPanel(0);
}

}  // namespace velmarune
