#include "ui/DidntPasteWindow.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "foundation/Log.h"
#include "ui/HudWindow.h"
#include "ui/Icons.h"

namespace velmarune {

DidntPasteWindow::DidntPasteWindow(PanelPlacer& placer)
    : FloatingPanel(placer, PanelSlot::didntPaste, true) {
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(kPaddingPx, kPaddingPx, kPaddingPx, kPaddingPx);
    m_layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowTitle(QStringLiteral("Didn't paste"));
}

void DidntPasteWindow::show(const std::vector<DidntPastePrompt>& prompts,
                            std::function<void(size_t)> paste, std::function<void()> close) {
    hide();
    Logger("DidntPaste")
        .info("didn't paste: %{public}ld prompt(s) offered", static_cast<int64_t>(prompts.size()));
    m_paste = std::move(paste);
    m_close = std::move(close);
    m_content = new QWidget(this);
    m_content->setFixedWidth(kContentWidthPx);
    auto* column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto* header = new QHBoxLayout();
    header->setSpacing(8);
    auto* icon = new QLabel(m_content);
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    icon->setPixmap(
        symbolicIcon(QStringLiteral("clipboard-symbolic.svg"), secondary, 16).pixmap(16, 16));
    header->addWidget(icon);
    auto* title = new QLabel(QStringLiteral("Didn't paste"), m_content);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    header->addWidget(title, 1);
    auto* closeButton = new QToolButton(m_content);
    closeButton->setIcon(symbolicIcon(QStringLiteral("xmark-symbolic.svg"),
                                      palette().color(QPalette::WindowText), 16));
    closeButton->setAutoRaise(true);
    closeButton->setFocusPolicy(Qt::NoFocus);
    closeButton->setAccessibleName(QStringLiteral("Close"));
    closeButton->setToolTip(QStringLiteral("Close"));
    connect(closeButton, &QToolButton::clicked, this, [this] {
        // The list closes the panel and runs the prompts' closers; the
        // callback may be gone by then, so keep it.
        if (auto close = m_close) {
            close();
        }
    });
    header->addWidget(closeButton);
    column->addLayout(header);

    const int maxTextHeight = prompts.size() > 1 ? kRowHeightPx : kSingleRowHeightPx;
    for (size_t i = 0; i < prompts.size(); ++i) {
        if (i > 0) {
            auto* divider = new QFrame(m_content);
            divider->setFrameShape(QFrame::HLine);
            // A quiet line in the theme's mid tone, light or dark.
            divider->setFrameShadow(QFrame::Plain);
            divider->setForegroundRole(QPalette::Mid);
            column->addWidget(divider);
        }
        column->addWidget(makeRow(prompts[i], maxTextHeight, i));
    }
    m_layout->addWidget(m_content);
    setWindowTitle(QStringLiteral("Didn't paste"));
    showPanel(0);
}

QWidget* DidntPasteWindow::makeRow(const DidntPastePrompt& prompt, int maxTextHeightPx,
                                   size_t index) {
    auto* row = new QWidget(m_content);
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    const QString text = QString::fromStdString(prompt.text);
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFocusPolicy(Qt::NoFocus);
    // Leading-aligned in the text's own direction: Hebrew from the right.
    label->setLayoutDirection(text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    label->setAlignment(Qt::AlignLeading | Qt::AlignTop);

    auto* scroll = new QScrollArea(row);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->viewport()->setAutoFillBackground(false);
    label->setAutoFillBackground(false);
    scroll->setWidget(label);
    int height = label->heightForWidth(kContentWidthPx);
    if (height > maxTextHeightPx) {
        // The scroll bar takes width from the text, which then grows taller.
        const int bar = scroll->verticalScrollBar()->sizeHint().width();
        height = label->heightForWidth(kContentWidthPx - bar);
    }
    scroll->setFixedHeight(std::min(height, maxTextHeightPx));
    layout->addWidget(scroll);

    auto* button = makeProminentButton(QStringLiteral("Paste"), row);
    connect(button, &QPushButton::clicked, this, [this, index] {
        if (auto paste = m_paste) {
            paste(index);
        }
    });
    layout->addWidget(button, 0, Qt::AlignRight);
    return row;
}

void DidntPasteWindow::hide() {
    hidePanel(0);
    if (m_content) {
        // A button's own click may be what rebuilds the panel: delete later.
        m_content->hide();
        m_content->deleteLater();
        m_content = nullptr;
    }
}

}  // namespace velmarune
