#include "ui/RequirementsWindow.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "ui/RequirementsWindowModel.h"

namespace velmarune {

namespace {

constexpr int kWidth = 560;

QColor outcomeColor(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::pass:
            return QColor(46, 160, 67);
        case CheckOutcome::warn:
            return QColor(230, 140, 20);
        case CheckOutcome::block:
            break;
    }
    return QColor(210, 50, 45);
}

// A coloured disc with a tick, a bang or a cross, for themes without the icon.
QPixmap drawnOutcomeIcon(CheckOutcome outcome, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(outcomeColor(outcome));
    painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    painter.setPen(QPen(Qt::white, size / 8.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const double s = size;
    if (outcome == CheckOutcome::pass) {
        painter.drawPolyline(QPolygonF({QPointF(s * 0.28, s * 0.52), QPointF(s * 0.44, s * 0.68),
                                        QPointF(s * 0.72, s * 0.34)}));
    } else if (outcome == CheckOutcome::warn) {
        painter.drawLine(QPointF(s / 2, s * 0.25), QPointF(s / 2, s * 0.58));
        painter.drawPoint(QPointF(s / 2, s * 0.75));
    } else {
        painter.drawLine(QPointF(s * 0.33, s * 0.33), QPointF(s * 0.67, s * 0.67));
        painter.drawLine(QPointF(s * 0.67, s * 0.33), QPointF(s * 0.33, s * 0.67));
    }
    return pixmap;
}

QLabel* wrappedLabel(const std::string& text, QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setWordWrap(true);
    return label;
}

QLabel* secondaryLabel(const std::string& text, QWidget* parent, double scale) {
    QLabel* label = wrappedLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    return label;
}

}  // namespace

RequirementsWindow::RequirementsWindow(HardwareCheckModel& model, std::function<void()> onContinue,
                                       std::function<void()> onQuit)
    : m_model(model), m_onContinue(std::move(onContinue)), m_onQuit(std::move(onQuit)) {
    setWindowTitle("Velmarune");
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(24, 24, 24, 20);
    // Escape leaves, as in any dialog: the same as "Quit".
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] { m_onQuit(); });
    rebuild(m_model.report().get());
    m_subscription =
        m_model.report().subscribe([this](const CheckReport& report) { rebuild(report); });
}

void RequirementsWindow::rebuild(const CheckReport& report) {
    const RequirementsWindowContent content = RequirementsWindowContent::from(report);
    delete m_body;
    m_body = new QWidget(this);
    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    QLabel* headline = wrappedLabel(content.headline, m_body);
    QFont big = headline->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setWeight(QFont::DemiBold);
    headline->setFont(big);
    layout->addWidget(headline);
    layout->addWidget(secondaryLabel(content.subtitle, m_body, 1.0));

    auto* frame = new QFrame(m_body);
    frame->setObjectName("checkRows");
    frame->setStyleSheet(
        "#checkRows { background: palette(base); border: 1px solid palette(mid);"
        " border-radius: 8px; }");
    auto* grid = new QGridLayout(frame);
    grid->setContentsMargins(14, 14, 14, 14);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);
    int gridRow = 0;
    for (const auto& row : content.rows) {
        if (gridRow > 0) {
            grid->setRowMinimumHeight(gridRow++, 8);
        }
        auto* icon = new QLabel(frame);
        const QIcon themed = QIcon::fromTheme(QString::fromStdString(outcomeIconName(row.outcome)));
        icon->setPixmap(themed.isNull() ? drawnOutcomeIcon(row.outcome, 18)
                                        : themed.pixmap(18, 18));
        icon->setAccessibleName(QString::fromStdString(checkOutcomeRawValue(row.outcome)));
        grid->addWidget(icon, gridRow, 0, Qt::AlignTop);
        auto* label = new QLabel(QString::fromStdString(row.label), frame);
        QFont medium = label->font();
        medium.setWeight(QFont::Medium);
        label->setFont(medium);
        grid->addWidget(label, gridRow, 1, Qt::AlignTop);
        QLabel* value = wrappedLabel(row.value, frame);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(value, gridRow, 2, Qt::AlignTop);
        ++gridRow;
        if (!row.detail.empty()) {
            grid->addWidget(secondaryLabel(row.detail, frame, 0.92), gridRow++, 1, 1, 2);
        }
    }
    grid->setColumnStretch(2, 1);
    layout->addWidget(frame);
    layout->addWidget(secondaryLabel(content.microphoneNote, m_body, 0.85));
    layout->addWidget(secondaryLabel(content.footnote, m_body, 0.85));

    auto* buttons = new QHBoxLayout();
    if (!content.questionsLink.empty()) {
        auto* link =
            new QLabel(QString("Questions? <a href=\"%1\">Write to us</a>")
                           .arg(QString::fromStdString(content.questionsLink).toHtmlEscaped()),
                       m_body);
        link->setOpenExternalLinks(true);
        buttons->addWidget(link);
    }
    buttons->addStretch(1);
    auto* quit = new QPushButton("Quit", m_body);
    connect(quit, &QPushButton::clicked, this, [this] { m_onQuit(); });
    buttons->addWidget(quit);
    QPushButton* main = nullptr;
    if (content.offersContinue) {
        main = new QPushButton("Continue", m_body);
        connect(main, &QPushButton::clicked, this, [this] {
            m_continued = true;
            m_onContinue();
        });
    } else {
        main = new QPushButton("Check Again", m_body);
        // Queued: the button is deleted by the redraw the new report causes.
        connect(
            main, &QPushButton::clicked, this, [this] { m_model.evaluate(); },
            Qt::QueuedConnection);
    }
    main->setDefault(true);
    main->setAutoDefault(true);
    buttons->addWidget(main);
    layout->addLayout(buttons);

    m_layout->addWidget(m_body);
    // A redraw happens in a shown window, whose new children start hidden.
    m_body->show();
    main->setFocus();
    // Wrapped labels grow downwards: size the window for its width, so that a
    // redraw after "Check Again" never squeezes the rows.
    m_layout->activate();
    const int height = m_layout->totalHeightForWidth(kWidth);
    setMinimumSize(kWidth, height);
    resize(kWidth, height);
}

void RequirementsWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    // Closing the window without going on is leaving, as "Quit" is.
    if (!m_continued) {
        m_onQuit();
    }
}

}  // namespace velmarune
