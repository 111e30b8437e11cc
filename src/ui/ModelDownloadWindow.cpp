#include "ui/ModelDownloadWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/RequirementsWindowModel.h"

namespace velmarune {

ModelDownloadWindow::ModelDownloadWindow(ModelDownloadManager& manager, const ModelLocator& locator,
                                         std::vector<ModelEntry> entries, std::string readyText)
    : m_manager(manager),
      m_locator(locator),
      m_entries(std::move(entries)),
      m_readyText(std::move(readyText)) {
    setWindowTitle("Velmarune");
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 20);
    layout->setSpacing(12);
    m_headline = new QLabel("Downloading the speech models", this);
    m_headline->setWordWrap(true);
    QFont big = m_headline->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setWeight(QFont::DemiBold);
    m_headline->setFont(big);
    layout->addWidget(m_headline);
    auto* grid = new QGridLayout();
    grid->setVerticalSpacing(6);
    for (size_t i = 0; i < m_entries.size(); ++i) {
        m_titles.push_back(new QLabel(this));
        m_bars.push_back(new QProgressBar(this));
        m_bars.back()->setRange(0, 1000);
        m_bars.back()->setTextVisible(false);
        m_statuses.push_back(new QLabel(this));
        m_statuses.back()->setWordWrap(true);
        const int row = static_cast<int>(i) * 4;
        if (i > 0) {
            grid->setRowMinimumHeight(row - 1, 10);
        }
        grid->addWidget(m_titles.back(), row, 0);
        grid->addWidget(m_bars.back(), row + 1, 0);
        grid->addWidget(m_statuses.back(), row + 2, 0);
    }
    layout->addLayout(grid);
    auto* note = new QLabel(
        "Velmarune starts dictating as soon as both models are in place. You can close this "
        "window: the downloads go on.",
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    m_retry = new QPushButton("Try Again", this);
    connect(m_retry, &QPushButton::clicked, this, [this] {
        const auto& states = m_manager.states().get();
        for (const ModelEntry& entry : m_entries) {
            const auto it = states.find(entry.id);
            if (it != states.end() && it->second.error) {
                m_manager.start(entry);
            }
        }
    });
    buttons->addWidget(m_retry);
    auto* close = new QPushButton("Close", this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    refresh(manager.states().get());
    m_subscription = manager.states().subscribe(
        [this](const ModelDownloadManager::States& states) { refresh(states); });
}

void ModelDownloadWindow::refresh(const ModelDownloadManager::States& states) {
    bool allDone = true;
    bool anyFailed = false;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const auto it = states.find(m_entries[i].id);
        const ModelDownloadRow row = ModelDownloadRow::from(
            m_entries[i], it == states.end() ? std::nullopt : std::optional(it->second),
            m_locator.isInstalled(m_entries[i]));
        m_titles[i]->setText(QString::fromStdString(row.title));
        m_bars[i]->setValue(static_cast<int>(row.fraction * 1000));
        m_statuses[i]->setText(QString::fromStdString(row.status));
        allDone = allDone && row.done;
        anyFailed = anyFailed || row.failed;
    }
    m_retry->setVisible(anyFailed);
    if (allDone) {
        m_headline->setText(QString::fromStdString(m_readyText));
    }
}

}  // namespace velmarune
