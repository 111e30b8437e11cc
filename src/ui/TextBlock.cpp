#include "ui/TextBlock.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>
#include <cmath>

namespace velmarune {

TextBlock::TextBlock(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TextBlock::setText(const QString& text, int maxLines, int maxWidthPx) {
    m_text = text;
    m_maxLines = std::max(1, maxLines);
    m_maxWidthPx = std::max(1, maxWidthPx);
    layoutLines();
}

void TextBlock::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        layoutLines();
    }
    QWidget::changeEvent(event);
}

void TextBlock::layoutLines() {
    m_lines.clear();
    const QFontMetrics metrics(font());
    const QStringList paragraphs = m_text.split(QLatin1Char('\n'));
    bool cut = false;
    for (qsizetype p = 0; p < paragraphs.size() && !cut; ++p) {
        const QString& paragraph = paragraphs[p];
        const bool rtl = paragraph.isRightToLeft();
        QTextLayout layout(paragraph, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setTextDirection(rtl ? Qt::RightToLeft : Qt::LeftToRight);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(m_maxWidthPx);
            if (static_cast<int>(m_lines.size()) == m_maxLines - 1) {
                // The last line takes everything left, cut to fit.
                QString rest = paragraph.mid(line.textStart());
                for (qsizetype q = p + 1; q < paragraphs.size(); ++q) {
                    rest += QLatin1Char(' ') + paragraphs[q];
                }
                rest = rest.simplified();
                QString shown = metrics.elidedText(rest, Qt::ElideRight, m_maxWidthPx);
                m_lines.push_back({shown, rtl});
                cut = true;
                break;
            }
            m_lines.push_back({paragraph.mid(line.textStart(), line.textLength()).trimmed(), rtl});
        }
        layout.endLayout();
    }
    m_widthPx = 0;
    for (const auto& line : m_lines) {
        m_widthPx = std::max(m_widthPx, metrics.horizontalAdvance(line.text) + 1);
    }
    m_widthPx = std::min(m_widthPx, m_maxWidthPx);
    updateGeometry();
    update();
}

QSize TextBlock::sizeHint() const {
    const QFontMetrics metrics(font());
    return {m_widthPx, static_cast<int>(m_lines.size()) * metrics.lineSpacing()};
}

void TextBlock::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int lineHeight = QFontMetrics(font()).lineSpacing();
    int y = 0;
    for (const auto& line : m_lines) {
        const int flags = Qt::AlignVCenter | Qt::TextSingleLine |
                          (line.rightToLeft ? Qt::AlignRight | Qt::TextForceRightToLeft
                                            : Qt::AlignLeft | Qt::TextForceLeftToRight);
        painter.drawText(QRect(0, y, width(), lineHeight), flags, line.text);
        y += lineHeight;
    }
}

}  // namespace velmarune
