#include "ui/ReadinessExplainerWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace velmarune {

ReadinessExplainerWindow::ReadinessExplainerWindow() {
    setWindowTitle("Velmarune");
    setFixedWidth(440);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    m_title = new QLabel(this);
    QFont font = m_title->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    font.setWeight(QFont::DemiBold);
    m_title->setFont(font);
    layout->addWidget(m_title);
    m_body = new QLabel(this);
    m_body->setWordWrap(true);
    layout->addWidget(m_body);
    m_stillMissing =
        new QLabel("Still missing. Fix it and press Continue, or choose Not Now.", this);
    m_stillMissing->setWordWrap(true);
    m_stillMissing->setStyleSheet("color: rgb(210, 50, 45);");
    layout->addWidget(m_stillMissing);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    auto* notNow = new QPushButton("Not Now", this);
    notNow->setShortcut(Qt::Key_Escape);
    auto* proceed = new QPushButton("Continue", this);
    proceed->setDefault(true);
    buttons->addWidget(notNow);
    buttons->addWidget(proceed);
    layout->addLayout(buttons);
    connect(notNow, &QPushButton::clicked, this, [this] {
        if (auto action = m_onNotNow) {
            action();
        }
    });
    connect(proceed, &QPushButton::clicked, this, [this] {
        if (auto action = m_onContinue) {
            action();
        }
    });
}

void ReadinessExplainerWindow::present(const ReadinessExplanation& explanation, bool stillMissing,
                                       std::function<void()> onContinue,
                                       std::function<void()> onNotNow) {
    m_title->setText(QString::fromStdString(explanation.title));
    m_body->setText(QString::fromStdString(explanation.body));
    m_stillMissing->setVisible(stillMissing);
    m_onContinue = std::move(onContinue);
    m_onNotNow = std::move(onNotNow);
    // Wrapped text grows downwards: fit the height to the fixed width.
    layout()->activate();
    setFixedHeight(layout()->totalHeightForWidth(width()));
    if (!isVisible()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }
    QWidget::show();
    raise();
    activateWindow();
}

void ReadinessExplainerWindow::dismiss() {
    m_closingOurselves = true;
    QWidget::close();
    m_closingOurselves = false;
}

void ReadinessExplainerWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!m_closingOurselves && m_onNotNow) {
        // After the close has finished: the next explainer may reopen the window.
        QMetaObject::invokeMethod(
            this, [action = m_onNotNow] { action(); }, Qt::QueuedConnection);
    }
}

}  // namespace velmarune
